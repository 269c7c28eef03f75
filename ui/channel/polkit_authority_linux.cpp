#include "ui/channel/polkit_authority_linux.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr std::chrono::minutes kUnavailableLineEvery{1};

// The start time of process `pid` in clock ticks since boot (field 22 of /proc/PID/stat), which
// polkit wants with the pid so that a reused pid is not mistaken for the sender; 0 (polkit looks
// it up) when it cannot be read.
std::uint64_t ProcessStartTime(std::uint32_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  return StartTimeFromStat(file);
}

}  // namespace

std::uint64_t StartTimeFromStat(std::istream& stat) {
  // The sender may be gone by now, and a read from its stat file then fails (ESRCH): getline
  // takes that as a failed stream, where reading the buffer directly would throw.
  std::string line;
  if (!std::getline(stat, line)) return 0;
  // The command name in parentheses may hold blanks: count fields after its closing one.
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  // Fields 3 to 21, then 22.
  for (int i = 3; i <= 21 && fields >> field; ++i) {
  }
  std::uint64_t start = 0;
  if (!(fields >> start)) return 0;
  return start;
}

namespace {

struct Bus {
  sd_bus* bus = nullptr;
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error{};  // SD_BUS_ERROR_NULL, which is C99 syntax
  ~Bus() {
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
  }
};

std::string BusFailure(const char* call, int result) {
  return SystemCallFailure(call, "", static_cast<unsigned long>(-result));
}

}  // namespace

bool IsLinuxAdministrator(const UiSender& sender, PolkitAnswer answer) {
  return sender.system || answer == PolkitAnswer::kAuthorized;
}

PolkitAuthority::PolkitAuthority(Log log) : log_(std::move(log)) {}

bool PolkitAuthority::IsAdministrator(const UiSender& sender) {
  if (sender.system) return true;
  std::string why;
  const PolkitAnswer answer = Ask(sender, why);
  if (answer == PolkitAnswer::kUnavailable) {
    std::lock_guard guard(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (lastUnavailableLine_ == std::chrono::steady_clock::time_point{} ||
        now - lastUnavailableLine_ >= kUnavailableLineEvery) {
      lastUnavailableLine_ = now;
      log_(FormatLine("UI: polkit cannot be asked (%s): only root may change the settings", why)
               .str(),
           LogLevel::kError);
    }
  }
  return IsLinuxAdministrator(sender, answer);
}

PolkitAnswer PolkitAuthority::Ask(const UiSender& sender, std::string& why) {
  Bus bus;
  int result = sd_bus_open_system(&bus.bus);
  if (result < 0) {
    why = BusFailure("sd_bus_open_system", result);
    return PolkitAnswer::kUnavailable;
  }
  result = sd_bus_message_new_method_call(
      bus.bus, &bus.call, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
      "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization");
  if (result >= 0) {
    result = sd_bus_message_append(bus.call, "(sa{sv})", "unix-process", 3, "pid", "u", sender.pid,
                                   "start-time", "t", ProcessStartTime(sender.pid), "uid", "i",
                                   static_cast<std::int32_t>(sender.uid));
  }
  // No details, no interaction (flags 0), no cancellation id.
  if (result >= 0) result = sd_bus_message_append(bus.call, "sa{ss}us", kAction, 0, 0u, "");
  if (result < 0) {
    why = BusFailure("sd_bus_message_append", result);
    return PolkitAnswer::kUnavailable;
  }
  result = sd_bus_call(bus.bus, bus.call,
                       std::chrono::duration_cast<std::chrono::microseconds>(kCallTimeout).count(),
                       &bus.error, &bus.reply);
  if (result < 0) {
    why = bus.error.name != nullptr ? std::string(bus.error.name) + ": " +
                                          (bus.error.message != nullptr ? bus.error.message : "")
                                    : BusFailure("sd_bus_call", result);
    return PolkitAnswer::kUnavailable;
  }
  int authorized = 0;
  int challenge = 0;
  result = sd_bus_message_enter_container(bus.reply, 'r', "bba{ss}");
  if (result >= 0) result = sd_bus_message_read(bus.reply, "bb", &authorized, &challenge);
  if (result < 0) {
    why = BusFailure("sd_bus_message_read", result);
    return PolkitAnswer::kUnavailable;
  }
  if (authorized != 0) return PolkitAnswer::kAuthorized;
  return challenge != 0 ? PolkitAnswer::kChallenge : PolkitAnswer::kNotAuthorized;
}

}  // namespace Pellux
