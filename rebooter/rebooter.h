#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "base/clock.h"
#include "rebooter/rebooter_arguments.h"

namespace Pellux {

// What the rebooter does to the system, one backend per platform (the service manager and
// SetupAPI on Windows; systemd over the bus and sysfs on Linux). Each step tells its own failed
// system calls (call, code, text) on the error stream it was given; the sequence goes on after
// any of them. Called from the rebooter's one thread.
class RebooterSystem {
 public:
  virtual ~RebooterSystem() = default;

  // The service program's stop procedure, with its 30-second limit.
  virtual void StopService() = 0;
  // The service's state: true when running, false when in any other state, nothing when it
  // could not be asked.
  virtual std::optional<bool> ServiceRunning() = 0;
  enum class Termination { NotOpened, Ended, StillActive };
  // Ends the process `processId` with exit code 0. NotOpened: there was no such process to end
  // (it may have ended already), which is no failure.
  virtual Termination TerminateProcess(std::int32_t processId) = 0;
  // Restarts every USB device with these ids that may be restarted.
  struct DeviceRestart {
    bool listed = true;  // false: the devices could not be listed; `reason` says why
    int devices = 0;     // how many were listed
    int restarted = 0;   // how many of them restarted
    std::string reason;  // why the last one that failed did
    int refused = 0;     // how many of them are no base station and were left alone (Linux)
  };
  virtual DeviceRestart RestartDevices(std::uint32_t vendorId, std::uint32_t productId) = 0;
  // The service program's start procedure: start, then wait while start-pending.
  virtual void StartService() = 0;
};

// The rebooter's texts, the same on both systems.
inline constexpr const char* kRebooterStopFailedText =
    "The Pellux Data Uploader service failed to stop for restart.\n";
inline constexpr const char* kRebooterNotTerminatedFormat =
    "Failed to terminate parent process [pid: %d]\n";
inline constexpr const char* kRebooterRestartFailedFormat = "Failed to restart base station:  %s\n";
inline constexpr const char* kRebooterFinalFormat = "The Pellux Data Uploader service is %s.\n";
inline constexpr const char* kDeviceNotFoundReason = "device not found";
inline constexpr const char* kPropertyChangeFailedReason = "property change installation failed";
// Every device with the ids was left alone, as none is a base station.
inline constexpr const char* kNoBaseStationReason = "no base station has these ids";

// The pause after the devices were restarted, before the service is started again: the base
// station needs it to come back.
inline constexpr std::chrono::milliseconds kDeviceSettleTime{2000};

// The whole recovery, in order: stop the service, check that it stopped, end its process, restart
// the base station (and wait for it to come back), start the service, and tell its state on
// `out`. Failures go to `err`, one line each, and never end the sequence. True when nothing
// failed and the service runs at the end (the Linux program's exit code; the Windows one always
// exits 0).
bool RunRebooter(const RebooterArguments& arguments, RebooterSystem& system, Clock& clock,
                 std::ostream& out, std::ostream& err);

// The device instance prefix Windows lists the base station's USB devices under:
// "USB\VID_%04X&PID_%04X" ("USB\VID_0FCF&PID_1004").
std::string UsbDeviceInstancePrefix(std::uint32_t vendorId, std::uint32_t productId);

// The reason for a failure to list the devices: "[0x%08x]: %s" with the system's text for
// `code`, or where the system has none (`systemText` empty), "IDispatch error #%d" for the
// dispatch range 0x80040201..0x8004FFFF and "Unknown error 0x%0lX" for anything else.
std::string DeviceListFailureReason(std::uint32_t code, const std::string& systemText);

}  // namespace Pellux
