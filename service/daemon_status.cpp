#include "service/daemon_status.h"

#include <chrono>

#include "ui/log/local_time.h"

namespace Pellux {

std::string DaemonStatusText(const DaemonSnapshot& snapshot) {
  std::string text;
  if (!snapshot.baseStationOpen) {
    text = "Waiting for a base station";
  } else if (snapshot.mode != "standard") {
    text = "In a " + snapshot.mode + " session for a UI";
  } else if (snapshot.uploading) {
    text = "Uploading to the server";
  } else if (snapshot.linked) {
    text = "Linked to a tracker";
  } else {
    text = "Searching for trackers";
  }
  if (snapshot.lastSleepTime != 0) {
    const auto at =
        std::chrono::system_clock::time_point(std::chrono::seconds(snapshot.lastSleepTime));
    text += "; last upload finished at " + FormatLocalTime("%Y-%m-%d %H:%M:%S", at);
  }
  return text;
}

}  // namespace Pellux
