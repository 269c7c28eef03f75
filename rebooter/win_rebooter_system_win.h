#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "base/clock.h"
#include "rebooter/rebooter.h"

namespace Pellux {

// The rebooter's steps on Windows: the service program's own stop and start procedures
// against the service manager, the status query, the process ended by id, and the base
// station restarted through SetupAPI's property change. Failed system calls go to `err`, one
// line each (call, code, text). The rebooter's one thread.
class WinRebooterSystem final : public RebooterSystem {
 public:
  // How long an ended process is given to be gone before its exit code is read: Windows
  // documents that termination runs on after TerminateProcess has returned (Wine finishes it
  // before), and a process still ending would be reported as not terminated.
  static constexpr std::chrono::milliseconds kTerminationWait{5000};

  // Controls the service `serviceName`; `clock` paces the stop and start waits. Both must
  // outlive this object, and so must `err`.
  WinRebooterSystem(std::string serviceName, Clock& clock, std::ostream& err);

  void StopService() override;
  std::optional<bool> ServiceRunning() override;
  // The rebooter's own process is never ended: it would leave the service stopped.
  Termination TerminateProcess(std::int32_t processId) override;
  DeviceRestart RestartDevices(std::uint32_t vendorId, std::uint32_t productId) override;
  void StartService() override;

 private:
  void Problem(const std::string& line);

  std::string serviceName_;
  Clock& clock_;
  std::ostream& err_;
};

}  // namespace Pellux
