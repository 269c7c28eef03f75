#include "tools/pelluxctl/pelluxctl_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

using Outcome = PelluxctlParse::Outcome;
using Command = PelluxctlOptions::Command;

TEST(PelluxctlArguments, CommandsAndTheirArguments) {
  struct Case {
    std::vector<std::string> arguments;
    Command command;
  };
  const Case cases[] = {
      {{"status"}, Command::kStatus},
      {{"refresh"}, Command::kRefresh},
      {{"finish"}, Command::kFinish},
      {{"logging", "off"}, Command::kLogging},
      {{"logging", "on", "7"}, Command::kLogging},
      {{"proxy"}, Command::kProxy},
      {{"open", "http://example.test/x"}, Command::kOpen},
      {{"session", "setup"}, Command::kSession},
      {{"doctor"}, Command::kDoctor},
      {{"doctor", "--json"}, Command::kDoctor},
      {{"--socket", "/tmp/s.sock", "--reply", "@me", "status"}, Command::kStatus},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.front());
    const auto parse = ParsePelluxctlArguments(c.arguments);
    ASSERT_EQ(parse.outcome, Outcome::kRun) << parse.text;
    EXPECT_EQ(parse.options.command, c.command);
  }
  struct StatusCase {
    std::vector<std::string> arguments;
    bool json;
    bool follow;
  };
  const StatusCase statusCases[] = {{{"status"}, false, false},
                                    {{"status", "--json"}, true, false},
                                    {{"status", "--follow"}, false, true},
                                    {{"status", "--follow", "--json"}, true, true}};
  for (const StatusCase& c : statusCases) {
    const auto parse = ParsePelluxctlArguments(c.arguments);
    ASSERT_EQ(parse.outcome, Outcome::kRun) << parse.text;
    EXPECT_EQ(parse.options.json, c.json) << c.arguments.size();
    EXPECT_EQ(parse.options.follow, c.follow) << c.arguments.size();
  }
  const auto logging = ParsePelluxctlArguments({"logging", "on", "+30"});
  EXPECT_TRUE(logging.options.loggingOn);
  EXPECT_EQ(logging.options.logDays, 30);
  const auto global =
      ParsePelluxctlArguments({"--socket", "/tmp/s.sock", "--reply", "@me", "finish"});
  EXPECT_EQ(global.options.service, "/tmp/s.sock");
  EXPECT_EQ(global.options.reply, "@me");
  const auto session = ParsePelluxctlArguments(
      {"session", "setup", "--html", "-", "--form", "a=1&b=2", "--form", "-"});
  ASSERT_EQ(session.outcome, Outcome::kRun) << session.text;
  EXPECT_EQ(session.options.mode, "setup");
  EXPECT_EQ(session.options.html, "-");
  EXPECT_EQ(session.options.forms, (std::vector<std::string>{"a=1&b=2", "-"}));
}

TEST(PelluxctlArguments, UiTakesAModeOfSetupByDefaultAndMayLeaveTheBrowserClosed) {
  struct Case {
    std::vector<std::string> arguments;
    std::string mode;
    bool noBrowser;
  };
  const Case cases[] = {
      {{"ui"}, "setup", false},
      {{"ui", "settings"}, "settings", false},
      {{"ui", "--no-browser"}, "setup", true},
      {{"ui", "--no-browser", "Standard"}, "Standard", true},
      {{"--socket", "/tmp/s.sock", "ui", "settings", "--no-browser"}, "settings", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    const auto parse = ParsePelluxctlArguments(c.arguments);
    ASSERT_EQ(parse.outcome, Outcome::kRun) << parse.text;
    EXPECT_EQ(parse.options.command, Command::kUi);
    EXPECT_EQ(parse.options.mode, c.mode);
    EXPECT_EQ(parse.options.noBrowser, c.noBrowser);
  }
  EXPECT_NE(PelluxctlUsage().find("  ui [MODE] [--no-browser]"), std::string::npos);
}

TEST(PelluxctlArguments, DoctorPrintsJsonOnlyWhenAsked) {
  struct Case {
    std::vector<std::string> arguments;
    bool json;
  };
  const Case cases[] = {
      {{"doctor"}, false},
      {{"doctor", "--json"}, true},
      {{"--socket", "/tmp/s.sock", "doctor", "--json"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.size());
    const auto parse = ParsePelluxctlArguments(c.arguments);
    ASSERT_EQ(parse.outcome, Outcome::kRun) << parse.text;
    EXPECT_EQ(parse.options.command, Command::kDoctor);
    EXPECT_EQ(parse.options.json, c.json);
  }
  EXPECT_EQ(ParsePelluxctlArguments({"status"}).options.json, false);
  EXPECT_NE(PelluxctlUsage().find("  doctor [--json]"), std::string::npos);
}

TEST(PelluxctlArguments, ProxyFieldsWithDefaultsAndHelp) {
  const auto parse = ParsePelluxctlArguments(
      {"proxy", "--selection", "1", "--server", "my proxy:8080", "--flags", "-1", "--bypass",
       "<local>;*.corp", "--auto-discovery-flags", "4294967295"});
  ASSERT_EQ(parse.outcome, Outcome::kRun) << parse.text;
  const ProxySettings& proxy = parse.options.proxy;
  EXPECT_EQ(proxy.selection, 1);
  EXPECT_EQ(proxy.server, "my proxy:8080");
  EXPECT_EQ(proxy.flags, 0xFFFFFFFFu);
  EXPECT_EQ(proxy.autoDiscoveryFlags, 0xFFFFFFFFu);
  EXPECT_EQ(proxy.bypass, "<local>;*.corp");
  EXPECT_EQ(proxy.autoConfigUrl, "");
  // What the service reads back is what was given, blanks and all.
  EXPECT_EQ(DecodeProxy(EncodeProxy(proxy)), proxy);

  const auto cleared = ParsePelluxctlArguments({"proxy"});
  EXPECT_EQ(cleared.options.proxy, ProxySettings{});
  const auto help = ParsePelluxctlArguments({"proxy", "--server", "x", "--help"});
  EXPECT_EQ(help.outcome, Outcome::kHelp);
  EXPECT_EQ(help.text, PelluxctlProxyUsage());
  EXPECT_EQ(ParsePelluxctlArguments({"--help", "status"}).text, PelluxctlUsage());
}

TEST(PelluxctlArguments, HostileArgumentsAreUsageErrors) {
  struct Case {
    std::vector<std::string> arguments;
    const char* why;
  };
  const std::string longName(257, 'n');
  const Case cases[] = {
      {{}, "no command given"},
      {{"--socket"}, "--socket needs a value"},
      {{"--socket", ""}, "--socket takes one word of at most 256 bytes"},
      {{"--reply", "@a b", "status"}, "--reply takes one word of at most 256 bytes"},
      {{"--reply", longName, "status"}, "--reply takes one word of at most 256 bytes"},
      {{"--verbose", "status"}, "unknown option '--verbose'"},
      {{"frob"}, "unknown command 'frob'"},
      {{"status", "now"}, "status takes --json and --follow, not 'now'"},
      {{"status", "--json", "--json"}, "status takes --json once"},
      {{"status", "--follow", "--jsonx"}, "status takes --json and --follow, not '--jsonx'"},
      {{"refresh", "--json"}, "refresh takes no arguments"},
      {{"logging"}, "logging takes 'on DAYS' or 'off'"},
      {{"logging", "on"}, "logging takes 'on DAYS' or 'off'"},
      {{"logging", "off", "7"}, "logging takes 'on DAYS' or 'off'"},
      {{"logging", "on", "0"}, "logging on takes a number of days from 1 to 36500"},
      {{"logging", "on", "-3"}, "logging on takes a number of days from 1 to 36500"},
      {{"logging", "on", "36501"}, "logging on takes a number of days from 1 to 36500"},
      {{"logging", "on", "7x"}, "logging on takes a number of days from 1 to 36500"},
      {{"logging", "on", "99999999999999999999"},
       "logging on takes a number of days from 1 to 36500"},
      {{"proxy", "--selection"}, "proxy: --selection needs a value"},
      {{"proxy", "--selection", "one"}, "proxy: --selection takes a 32-bit integer, not 'one'"},
      {{"proxy", "--flags", "4294967296"},
       "proxy: --flags takes a 32-bit integer, not '4294967296'"},
      {{"proxy", "--port", "8080"}, "proxy: unknown option '--port'"},
      {{"open"}, "open takes one URL without blanks"},
      {{"open", "http://a/b c"}, "open takes one URL without blanks"},
      {{"open", "http://a", "http://b"}, "open takes one URL without blanks"},
      {{"session"}, "session takes a mode"},
      {{"session", "set up"}, "session takes a mode of one word"},
      {{"session", "--html"}, "session takes a mode of one word"},
      {{"session", "setup", "--html"}, "session: --html needs a value"},
      {{"session", "setup", "--html", ""}, "session: --html takes a folder or '-'"},
      {{"session", "setup", "--color", "red"}, "session: unknown option '--color'"},
      {{"doctor", "--verbose"}, "doctor: unknown option '--verbose'"},
      {{"doctor", "json"}, "doctor: unknown option 'json'"},
      {{"doctor", "--json", "now"}, "doctor: unknown option 'now'"},
      {{"ui", "setup", "again"}, "ui takes one mode, not 'again' too"},
      {{"ui", "set up"}, "ui takes a mode of one word"},
      {{"ui", ""}, "ui takes a mode of one word"},
      {{"ui", "--no-browser", "--no-browser"}, "ui takes --no-browser once"},
      {{"ui", "--port", "80"}, "ui: unknown option '--port'"},
      {{"session", "setup", "--form", std::string(kMaxUiMessageBytes, 'f')},
       "session: --form data is longer than a message may be"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto parse = ParsePelluxctlArguments(c.arguments);
    EXPECT_EQ(parse.outcome, Outcome::kUsageError);
    EXPECT_EQ(parse.text, c.why);
  }
}

}  // namespace
}  // namespace Pellux
