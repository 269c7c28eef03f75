#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "base/clock.h"
#include "rebooter/rebooter.h"
#include "service/systemd_units_linux.h"

namespace Pellux {

// The rebooter's system on Linux: the daemon's unit through systemd's manager on the system bus,
// the daemon's process through a pidfd, the base station through sysfs (PowerCycleUsbDevices). Each
// failed call is one line on `err` with the call, its code (errno, or the bus error's name) and
// its text. Called from the rebooter's one thread; waits run on `clock`.
class LinuxRebooterSystem final : public RebooterSystem {
 public:
  static constexpr const char* kServiceUnit = "pellux.service";
  // How long the stop and the start may take, from the request on.
  static constexpr std::chrono::milliseconds kStopLimit{30000};
  static constexpr std::chrono::milliseconds kStartLimit{30000};
  // How often the unit's state is read meanwhile.
  static constexpr std::chrono::milliseconds kStatePollInterval{250};
  // How long a killed process may take to be gone (a kernel wait, in real time).
  static constexpr std::chrono::milliseconds kExitWait{5000};

  LinuxRebooterSystem(Clock& clock, std::ostream& err, std::string unit = kServiceUnit);

  // StopUnit (mode "replace") unless the unit is inactive or failed already, then waits until
  // it is, at most kStopLimit. Notes the unit's control group first (ControlGroup on the Service
  // interface): only a process in it is ever ended.
  void StopService() override;
  // ActiveState "active" is running.
  std::optional<bool> ServiceRunning() override;
  // SIGKILL to `processId` when it still exists and lives in the unit's control group (as noted
  // before the stop), then a wait for it to be gone. A process that is not there, or not the
  // unit's, is NotOpened: the rebooter runs as root, and the process id comes from outside.
  Termination TerminateProcess(std::int32_t processId) override;
  // PowerCycleUsbDevices of base stations only: "0" then "1" to the "authorized" of each device
  // with the ids that the installed udev rule marks as a base station, never a hub; its lines
  // (each device left alone among them) on `err`.
  DeviceRestart RestartDevices(std::uint32_t vendorId, std::uint32_t productId) override;
  // StartUnit (mode "replace"), then waits while the unit is activating, at most kStartLimit.
  void StartService() override;

 private:
  // Reads the unit's state every kStatePollInterval while `keepWaiting` says so, until `limit`
  // has passed since `from`; ends early when the state cannot be read.
  template <typename Condition>
  void WaitWhile(Condition keepWaiting, std::chrono::system_clock::time_point from,
                 std::chrono::milliseconds limit);
  std::optional<std::string> ActiveState();
  [[nodiscard]] bool InUnitsGroup(std::int32_t processId);

  Clock& clock_;
  std::ostream& err_;
  const std::string unit_;
  SystemdUnits units_;
  // The unit's control group while it ran; empty when it did not run or could not be read.
  std::string controlGroup_;
};

}  // namespace Pellux
