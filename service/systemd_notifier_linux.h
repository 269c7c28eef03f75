#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace Pellux {

// The daemon's word to systemd through $NOTIFY_SOCKET ("READY=1", "STATUS=...", "WATCHDOG=1",
// "STOPPING=1"); nothing is sent when the daemon was not started by systemd (no socket).
// Thread-safe: each call is one datagram.
class SystemdNotifier {
 public:
  // Where a failed send is told (the call with the system's code and text).
  using Problem = std::function<void(const std::string& line)>;
  explicit SystemdNotifier(Problem problem) : problem_(std::move(problem)) {}

  // Sends `state` (lines of "NAME=value"); false when it could not be sent.
  bool Notify(const std::string& state) const;
  // How often systemd wants "WATCHDOG=1" (half its WatchdogSec), or nullopt when it does not.
  [[nodiscard]] std::optional<std::chrono::milliseconds> HeartbeatInterval() const;

 private:
  Problem problem_;
};

}  // namespace Pellux
