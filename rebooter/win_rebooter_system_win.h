#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "base/clock.h"
#include "rebooter/rebooter.h"

namespace Pellux {

// The rebooter's steps on Windows: the service program's own stop and start procedures
// against the service manager, the status query, the service's process ended, and the base
// station restarted through SetupAPI's property change.
//
// The process is the service's own only: before the stop, StopService takes the running
// service's process id from the service manager and opens that process; TerminateProcess ends
// it through that handle, and only when it is the id given. An id alone is never opened: once
// the service has stopped, it may name any other process. Failed system calls go to `err`, one
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
  // Ends the service's process opened by StopService when `processId` is its id; any other id
  // is told on the error stream and left alone (NotOpened), as is a process that has ended.
  Termination TerminateProcess(std::int32_t processId) override;
  DeviceRestart RestartDevices(std::uint32_t vendorId, std::uint32_t productId) override;
  void StartService() override;

 private:
  void Problem(const std::string& line);
  // The running service's process, opened to be ended; none when the service is not running
  // or its process cannot be opened (told).
  void OpenServiceProcess();

  struct HandleCloser {
    void operator()(void* handle) const;
  };
  std::string serviceName_;
  // The service's process as it ran before the stop, and its id.
  std::unique_ptr<void, HandleCloser> serviceProcess_;
  std::uint32_t serviceProcessId_ = 0;
  Clock& clock_;
  std::ostream& err_;
};

}  // namespace Pellux
