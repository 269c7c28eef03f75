#include "rebooter/rebooter_command_line_linux.h"

#include <charconv>
#include <limits>
#include <optional>
#include <string_view>

#include "rebooter/rebooter_instance_linux.h"

namespace Pellux {
namespace {

// A word as it may be shown: printable ASCII only, and not too much of it.
std::string Shown(const std::string& word) {
  std::string shown;
  for (const char c : word.substr(0, 64)) shown += (c >= ' ' && c <= '~') ? c : '?';
  return shown;
}

// One to four hexadecimal digits, "0x" before them allowed.
std::optional<std::uint32_t> ReadUsbId(std::string_view word) {
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
    word.remove_prefix(2);
  if (word.empty() || word.size() > 4) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// A process id: decimal digits without a sign or a leading zero, 2 to the largest int32.
std::optional<std::int32_t> ReadProcessId(std::string_view word) {
  if (word.empty() || word.size() > 10 || word[0] == '0') return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, 10);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  if (value < 2 || value > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

RebooterCommandLine Usage(std::string problem) {
  RebooterCommandLine line;
  line.kind = RebooterCommandLine::Kind::Usage;
  line.problem = std::move(problem);
  return line;
}

}  // namespace

RebooterCommandLine ReadRebooterCommandLine(const std::vector<std::string>& words) {
  RebooterCommandLine line;
  if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h")) {
    line.kind = RebooterCommandLine::Kind::Help;
    return line;
  }
  for (const std::string& word : words) {
    if (!word.empty() && word[0] == '-') return Usage("unknown option \"" + Shown(word) + "\"");
  }
  if (words.size() > 3) return Usage("too many words");
  if (words.size() == 1) {
    if (words[0].find('-') == std::string::npos) return Usage("a product id must follow");
    const std::optional<RebooterArguments> instance = ParseRebooterInstance(words[0]);
    if (!instance) {
      line.kind = RebooterCommandLine::Kind::RefusedInstance;
      line.problem = "Refused unit instance \"" + Shown(words[0]) +
                     "\": expected <vendor id>-<product id>-<process id>";
      return line;
    }
    line.arguments = *instance;
    return line;
  }
  if (words.size() >= 2) {
    const auto vendorId = ReadUsbId(words[0]);
    if (!vendorId) return Usage("\"" + Shown(words[0]) + "\" is no vendor id");
    const auto productId = ReadUsbId(words[1]);
    if (!productId) return Usage("\"" + Shown(words[1]) + "\" is no product id");
    line.arguments.restartDevice = true;
    line.arguments.vendorId = *vendorId;
    line.arguments.productId = *productId;
  }
  if (words.size() == 3) {
    const auto processId = ReadProcessId(words[2]);
    if (!processId) return Usage("\"" + Shown(words[2]) + "\" is no process id");
    line.arguments.terminateProcess = true;
    line.arguments.processId = *processId;
  }
  return line;
}

const char* RebooterUsage() {
  return "Usage: rebooter [VENDOR PRODUCT [PID]]\n"
         "       rebooter VENDOR-PRODUCT-PID\n"
         "Stops pellux.service, ends the daemon's process PID if it is still in the service's\n"
         "control group, power-cycles the base stations with the USB ids VENDOR:PRODUCT\n"
         "(hexadecimal; only devices the installed udev rule marks as base stations, never a\n"
         "hub), waits 2 s and starts pellux.service again. The second form is the instance of\n"
         "pellux-rebooter@.service (lower-case ids without leading zeros).\n"
         "Exit status: 0 when every step succeeded and the service runs, 1 when one failed,\n"
         "2 for a usage error.\n";
}

}  // namespace Pellux
