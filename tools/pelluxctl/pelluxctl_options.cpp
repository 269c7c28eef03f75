#include "tools/pelluxctl/pelluxctl_options.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

constexpr int kMaxLogDays = 36500;
// Reply and service names: as long as any platform's endpoint name may be.
constexpr std::size_t kMaxNameBytes = 256;

std::optional<std::int64_t> Integer(const std::string& text, std::int64_t low, std::int64_t high) {
  std::string_view digits(text);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  std::int64_t value = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || error != std::errc() || stop != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

bool HasSpace(const std::string& text) {
  return std::ranges::any_of(text, IsUiSpace);
}

// "proxy: <option> takes a 32-bit integer, not '<value>'"
std::string NotAnInteger(const std::string& option, const std::string& value) {
  std::string why = "proxy: ";
  why += option;
  why += " takes a 32-bit integer, not '";
  why += value;
  why += "'";
  return why;
}

PelluxctlParse Usage(std::string why) {
  PelluxctlParse parse;
  parse.outcome = PelluxctlParse::Outcome::kUsageError;
  parse.text = std::move(why);
  return parse;
}

PelluxctlParse Help(std::string text) {
  PelluxctlParse parse;
  parse.outcome = PelluxctlParse::Outcome::kHelp;
  parse.text = std::move(text);
  return parse;
}

// Reads the proxy command's options into `proxy`; an error text, or empty.
std::string ReadProxy(const std::vector<std::string>& words, std::size_t at, ProxySettings& proxy,
                      bool& help) {
  constexpr std::int64_t kFlagsLow = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kFlagsHigh = std::numeric_limits<std::uint32_t>::max();
  proxy = ProxySettings{};
  for (; at < words.size(); ++at) {
    const std::string& option = words[at];
    if (option == "--help") {
      help = true;
      return {};
    }
    if (at + 1 >= words.size()) return "proxy: " + option + " needs a value";
    const std::string& value = words[++at];
    if (option == "--selection") {
      const auto number = Integer(value, kFlagsLow, std::numeric_limits<std::int32_t>::max());
      if (!number) return NotAnInteger(option, value);
      proxy.selection = static_cast<std::int32_t>(*number);
    } else if (option == "--auto-discovery-flags" || option == "--flags") {
      const auto number = Integer(value, kFlagsLow, kFlagsHigh);
      if (!number) return NotAnInteger(option, value);
      (option == "--flags" ? proxy.flags : proxy.autoDiscoveryFlags) =
          static_cast<std::uint32_t>(*number);
    } else if (option == "--auto-config-url") {
      proxy.autoConfigUrl = value;
    } else if (option == "--bypass") {
      proxy.bypass = value;
    } else if (option == "--server") {
      proxy.server = value;
    } else if (option == "--server-override") {
      proxy.serverOverride = value;
    } else {
      return "proxy: unknown option '" + option + "'";
    }
  }
  return {};
}

}  // namespace

std::string PelluxctlUsage() {
  return "usage: pelluxctl [--socket PATH] [--reply NAME] COMMAND [ARGUMENTS]\n"
         "\n"
         "Talks to the Pellux uploader service over its UI channel.\n"
         "\n"
         "commands:\n"
         "  status [--json] [--follow]\n"
         "                         what the service is doing: the link, the base station, the\n"
         "                         session and its progress, the last upload and error, the\n"
         "                         activity log and the proxy (times in local time); --json\n"
         "                         prints the service's record as it is; --follow prints each\n"
         "                         change until Ctrl-C, and a transfer's progress\n"
         "  logging on DAYS        keep activity logs, for DAYS days (1 to 36500)\n"
         "  logging off            stop the activity log\n"
         "  proxy [OPTIONS]        replace the proxy settings (pelluxctl proxy --help)\n"
         "  refresh                make the service read its settings again\n"
         "  open URL               have the service post to an internal URL\n"
         "  finish                 finish the session of the UI named by --reply\n"
         "  session MODE [--html DIR|-] [--form DATA|-]...\n"
         "                         start a session in MODE and stay with it: polls every two\n"
         "                         seconds, prints status lines, writes each page to DIR (or\n"
         "                         prints it with --html -), sends each --form DATA after the\n"
         "                         first page (with '-', every line of standard input as it\n"
         "                         comes); Ctrl-C finishes the session\n"
         "  ui [MODE] [--no-browser]\n"
         "                         start a session in MODE (default setup) and show it in a\n"
         "                         browser: the service's pages, their forms, its status lines\n"
         "                         and progress, served to this machine only at an address with\n"
         "                         a secret of its own; --no-browser prints the address instead\n"
         "                         of opening it; the page's Finish, closing it or Ctrl-C\n"
         "                         finishes the session\n"
         "  doctor [--json]        check the service, the base station's port, the settings\n"
         "                         and the way to the upload server: one line per check (OK,\n"
         "                         WARN or FAIL, with the fix), or with --json a JSON array\n"
         "\n"
         "options:\n"
         "  --socket PATH          the service's socket (default /run/pellux/service.sock)\n"
         "  --reply NAME           this UI's reply socket: a path, or '@' and an abstract name\n"
         "                         (default @pellux-ui-<uid>-<pid>)\n"
         "  --help                 this text\n"
         "\n"
         "exit status: 0 done, 1 failed (the service is not running, refused or did not answer;\n"
         "for doctor: a check failed), 2 usage error\n";
}

std::string PelluxctlProxyUsage() {
  return "usage: pelluxctl proxy [--selection N] [--auto-config-url URL]\n"
         "                       [--auto-discovery-flags N] [--flags N] [--bypass LIST]\n"
         "                       [--server LIST] [--server-override SERVER]\n"
         "\n"
         "Replaces all seven proxy settings at once; a setting not given is cleared (texts\n"
         "empty, numbers -1).\n"
         "  --selection N          1: the per-connection options below, 2: the override server,\n"
         "                         anything else: a direct connection\n"
         "  --flags N              per-connection flags: 1 direct, 2 proxy, 4 auto-config URL,\n"
         "                         8 auto-detect\n"
         "  --bypass LIST          hosts that go direct: '*.domain' or '<local>', separated by\n"
         "                         ';' or blanks\n"
         "  --server LIST          'host:port' or 'scheme=host:port;...'\n";
}

PelluxctlParse ParsePelluxctlArguments(const std::vector<std::string>& arguments) {
  PelluxctlParse parse;
  PelluxctlOptions& options = parse.options;
  std::size_t at = 0;
  // Global options come before the command.
  while (at < arguments.size() && arguments[at].rfind("--", 0) == 0) {
    const std::string& option = arguments[at];
    if (option == "--help") return Help(PelluxctlUsage());
    if (option != "--socket" && option != "--reply") {
      return Usage("unknown option '" + option + "'");
    }
    if (at + 1 >= arguments.size()) return Usage(option + " needs a value");
    const std::string& value = arguments[at + 1];
    if (value.empty() || value.size() > kMaxNameBytes || HasSpace(value)) {
      return Usage(option + " takes one word of at most 256 bytes");
    }
    (option == "--socket" ? options.service : options.reply) = value;
    at += 2;
  }
  if (at >= arguments.size()) return Usage("no command given");
  const std::string& command = arguments[at++];
  const std::size_t left = arguments.size() - at;
  const auto argument = [&](std::size_t i) -> const std::string& { return arguments[at + i]; };

  if (command == "status") {
    options.command = PelluxctlOptions::Command::kStatus;
    for (std::size_t i = 0; i < left; ++i) {
      bool* flag = nullptr;
      if (argument(i) == "--json") flag = &options.json;
      if (argument(i) == "--follow") flag = &options.follow;
      if (flag == nullptr) {
        return Usage("status takes --json and --follow, not '" + argument(i) + "'");
      }
      if (*flag) return Usage("status takes " + argument(i) + " once");
      *flag = true;
    }
  } else if (command == "refresh" || command == "finish") {
    if (left != 0) return Usage(command + " takes no arguments");
    options.command = command == "refresh" ? PelluxctlOptions::Command::kRefresh
                                           : PelluxctlOptions::Command::kFinish;
  } else if (command == "logging") {
    options.command = PelluxctlOptions::Command::kLogging;
    if (left == 1 && argument(0) == "off") {
      options.loggingOn = false;
    } else if (left == 2 && argument(0) == "on") {
      const auto days = Integer(argument(1), 1, kMaxLogDays);
      if (!days) return Usage("logging on takes a number of days from 1 to 36500");
      options.loggingOn = true;
      options.logDays = static_cast<int>(*days);
    } else {
      return Usage("logging takes 'on DAYS' or 'off'");
    }
  } else if (command == "proxy") {
    options.command = PelluxctlOptions::Command::kProxy;
    bool help = false;
    const std::string error = ReadProxy(arguments, at, options.proxy, help);
    if (help) return Help(PelluxctlProxyUsage());
    if (!error.empty()) return Usage(error);
  } else if (command == "open") {
    options.command = PelluxctlOptions::Command::kOpen;
    if (left != 1 || argument(0).empty() || HasSpace(argument(0))) {
      return Usage("open takes one URL without blanks");
    }
    options.url = argument(0);
  } else if (command == "session") {
    options.command = PelluxctlOptions::Command::kSession;
    if (left < 1) return Usage("session takes a mode");
    options.mode = argument(0);
    if (options.mode.empty() || HasSpace(options.mode) || options.mode.rfind("--", 0) == 0) {
      return Usage("session takes a mode of one word");
    }
    for (std::size_t i = 1; i < left; i += 2) {
      const std::string& option = argument(i);
      if (option != "--html" && option != "--form") {
        return Usage("session: unknown option '" + option + "'");
      }
      if (i + 1 >= left) return Usage("session: " + option + " needs a value");
      const std::string& value = argument(i + 1);
      if (option == "--html") {
        if (value.empty()) return Usage("session: --html takes a folder or '-'");
        options.html = value;
      } else {
        // The message is the code, the reply name, a blank and the data.
        if (value.size() + kMaxNameBytes + 2 > kMaxUiMessageBytes) {
          return Usage("session: --form data is longer than a message may be");
        }
        options.forms.push_back(value);
      }
    }
  } else if (command == "ui") {
    options.command = PelluxctlOptions::Command::kUi;
    options.mode = "setup";
    bool modeGiven = false;
    for (std::size_t i = 0; i < left; ++i) {
      const std::string& word = argument(i);
      if (word == "--no-browser") {
        if (options.noBrowser) return Usage("ui takes --no-browser once");
        options.noBrowser = true;
      } else if (word.rfind("--", 0) == 0) {
        return Usage("ui: unknown option '" + word + "'");
      } else if (modeGiven) {
        return Usage("ui takes one mode, not '" + word + "' too");
      } else {
        if (word.empty() || HasSpace(word)) return Usage("ui takes a mode of one word");
        options.mode = word;
        modeGiven = true;
      }
    }
  } else if (command == "doctor") {
    options.command = PelluxctlOptions::Command::kDoctor;
    for (std::size_t i = 0; i < left; ++i) {
      if (argument(i) != "--json") return Usage("doctor: unknown option '" + argument(i) + "'");
      options.json = true;
    }
  } else {
    return Usage("unknown command '" + command + "'");
  }
  parse.outcome = PelluxctlParse::Outcome::kRun;
  return parse;
}

}  // namespace Pellux
