#pragma once

#include <cstdint>
#include <string>

#include "ui/linux_user_interface.h"

namespace Pellux {

// The daemon's relaunch. Under systemd it starts the rebooter as the instance of the template
// unit pellux-rebooter@.service that names the base station and this process
// ("pellux-rebooter@fcf-1004-1234.service"): the rebooter must outlive this unit's stop, and a
// child of ours would be killed with our control group. A template rather than a transient unit
// (StartTransientUnit): whoever may start a transient unit chooses its ExecStart, so letting the
// unprivileged service user start one would let it run anything as root; with the template only
// the instance varies, the polkit rule admits only that form, and the rebooter parses it strictly.
// Not under systemd (a foreground run) there is no unit to restart: the base station is reset
// here, and the session engine carries on with a new session.
class DaemonRelauncher {
 public:
  // Whether this process runs as a systemd unit (systemd sets INVOCATION_ID for it).
  static bool UnderSystemd();

  DaemonRelauncher(bool underSystemd, std::int32_t processId)
      : underSystemd_(underSystemd), processId_(processId) {}

  // LinuxUserInterface::Relauncher: the engine's thread, its lock held.
  bool operator()(std::uint16_t vendorId, std::uint16_t productId,
                  const LinuxUserInterface::RelaunchLog& log) const;

 private:
  const bool underSystemd_;
  const std::int32_t processId_;
};

}  // namespace Pellux
