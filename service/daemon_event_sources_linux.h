#pragma once

#include "device/udev_devices_linux.h"
#include "service/linux_daemon_linux.h"
#include "service/sleep_watcher_linux.h"

namespace Pellux {

// The daemon's host events besides its stop signals: base stations that udev sees come and go,
// and logind's sleep and wake. Each becomes the same log lines and action as the Windows
// service's device and power events, handed to the daemon's Apply. Made after the daemon and
// started before its Run; stopped after Run returned, before the daemon goes. Main thread.
class DaemonEventSources {
 public:
  DaemonEventSources(LinuxDaemon& daemon, DeviceLog deviceLog);

  // Starts both watchers; one that cannot watch says so in the daemon's log, and the daemon
  // runs without its events (it still finds a base station at start and on its own searches).
  void Start();
  void Stop();

 private:
  UsbHotplugMonitor hotplug_;
  SleepWatcher sleep_;
};

}  // namespace Pellux
