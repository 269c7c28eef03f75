#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

// What the daemon tells systemd about itself ("STATUS=", shown by systemctl status), from a
// snapshot of the engine taken under its lock.
struct DaemonSnapshot {
  bool baseStationOpen = false;
  std::string mode = "standard";
  // A tracker is linked and runs the server's operations.
  bool linked = false;
  // A request to the upload server is on its way.
  bool uploading = false;
  // When the last tracker was put to sleep (the end of an upload), seconds since 1970; 0: never.
  std::int64_t lastSleepTime = 0;
};

// One line a person can read: what the uploader does now, and when it last finished an upload
// (in local time).
std::string DaemonStatusText(const DaemonSnapshot& snapshot);

}  // namespace Pellux
