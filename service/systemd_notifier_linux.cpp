#include "service/systemd_notifier_linux.h"

#include <systemd/sd-daemon.h>

#include <cstdint>

#include "base/system_error.h"

namespace Pellux {

bool SystemdNotifier::Notify(const std::string& state) const {
  const int sent = sd_notify(0, state.c_str());
  if (sent < 0) {
    if (problem_)
      problem_(SystemCallFailure("sd_notify", state, static_cast<unsigned long>(-sent)));
    return false;
  }
  return sent > 0;
}

std::optional<std::chrono::milliseconds> SystemdNotifier::HeartbeatInterval() const {
  std::uint64_t microseconds = 0;
  const int enabled = sd_watchdog_enabled(0, &microseconds);
  if (enabled < 0 && problem_) {
    problem_(SystemCallFailure("sd_watchdog_enabled", "", static_cast<unsigned long>(-enabled)));
  }
  if (enabled <= 0 || microseconds == 0) return std::nullopt;
  return std::chrono::milliseconds(microseconds / 2000);
}

}  // namespace Pellux
