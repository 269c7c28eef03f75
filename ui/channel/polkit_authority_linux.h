#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <istream>
#include <mutex>
#include <string>

#include "ui/channel/ui_authority.h"

namespace Pellux {

// What polkit answered about one sender and the uploader's configure action.
enum class PolkitAnswer {
  kAuthorized,
  kNotAuthorized,
  // Allowed after authentication, which a UI message cannot offer: not allowed.
  kChallenge,
  // polkit is not on the system bus, or the bus is not there: nobody but root may.
  kUnavailable,
};

// The decision on Linux: root always; others only when polkit says yes. Pure.
bool IsLinuxAdministrator(const UiSender& sender, PolkitAnswer answer);

// Field 22 of a /proc/PID/stat (the process's start time in clock ticks since boot); 0 when the
// text is not there or not whole, as when the process has gone since the file was opened.
std::uint64_t StartTimeFromStat(std::istream& stat);

// The Linux UiAuthority: root, or whom polkit authorizes for "org.pellux.uploader.configure"
// (the action the package ships: yes for the user of an active local session, administrator
// authentication otherwise, which a UI message never passes). Asks polkitd on the system bus
// each time, without interaction, and waits for it at most kCallTimeout; where polkitd does not
// answer, root only. One call at a time (the listener's thread).
class PolkitAuthority final : public UiAuthority {
 public:
  static constexpr const char* kAction = "org.pellux.uploader.configure";
  static constexpr std::chrono::milliseconds kCallTimeout{2000};

  // One line of the authority's own, with its level (base/log_level.h).
  using Log = std::function<void(const std::string& line, int level)>;

  explicit PolkitAuthority(Log log);

  bool IsAdministrator(const UiSender& sender) override;

  // What polkitd says of `sender` (the system bus of DBUS_SYSTEM_BUS_ADDRESS when set); `why`
  // tells, when unavailable, what failed.
  static PolkitAnswer Ask(const UiSender& sender, std::string& why);

 private:
  const Log log_;
  std::mutex mutex_;
  // When polkitd was last found missing: said once a minute, not for every message.
  std::chrono::steady_clock::time_point lastUnavailableLine_{};
};

}  // namespace Pellux
