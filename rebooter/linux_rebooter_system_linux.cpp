#include "rebooter/linux_rebooter_system_linux.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <utility>

#include "base/system_error.h"
#include "device/udev_devices_linux.h"

namespace Pellux {
namespace {

// Through syscall(): the C library's <sys/pidfd.h> of this generation lacks C linkage for C++.
int OpenProcess(std::int32_t processId) {
  return static_cast<int>(syscall(SYS_pidfd_open, processId, 0U));
}

int KillProcess(int process) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0U));
}

bool IsDown(const std::string& state) {
  return state == "inactive" || state == "failed";
}

// The process's group in the unified control group hierarchy (the "0::" line), or nothing when
// it cannot be read (the process is gone, or no such line).
std::optional<std::string> ControlGroupOf(std::int32_t processId) {
  std::ifstream file("/proc/" + std::to_string(processId) + "/cgroup");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("0::", 0) == 0) return line.substr(3);
  }
  return std::nullopt;
}

}  // namespace

LinuxRebooterSystem::LinuxRebooterSystem(Clock& clock, std::ostream& err, std::string unit)
    : clock_(clock), err_(err), unit_(std::move(unit)), units_([this](const std::string& line) {
        err_ << line << "\n" << std::flush;
      }) {}

std::optional<std::string> LinuxRebooterSystem::ActiveState() {
  return units_.UnitProperty(unit_, SystemdUnits::kUnitInterface, "ActiveState");
}

template <typename Condition>
void LinuxRebooterSystem::WaitWhile(Condition keepWaiting,
                                    std::chrono::system_clock::time_point from,
                                    std::chrono::milliseconds limit) {
  for (;;) {
    const std::optional<std::string> state = ActiveState();
    if (!state || !keepWaiting(*state)) return;
    if (clock_.Now() - from >= limit) return;
    clock_.Sleep(kStatePollInterval);
  }
}

void LinuxRebooterSystem::StopService() {
  const auto start = clock_.Now();
  const std::optional<std::string> state = ActiveState();
  if (state && IsDown(*state)) return;
  controlGroup_ =
      units_.UnitProperty(unit_, SystemdUnits::kServiceInterface, "ControlGroup").value_or("");
  if (!units_.Stop(unit_)) return;
  WaitWhile([](const std::string& now) { return !IsDown(now); }, start, kStopLimit);
}

std::optional<bool> LinuxRebooterSystem::ServiceRunning() {
  const std::optional<std::string> state = ActiveState();
  if (!state) return std::nullopt;
  return *state == "active";
}

bool LinuxRebooterSystem::InUnitsGroup(std::int32_t processId) {
  const std::optional<std::string> group = ControlGroupOf(processId);
  if (!group) return false;
  if (controlGroup_.empty()) {
    err_ << "Process " << processId << " left alone: " << unit_
         << " had no control group when it was stopped\n"
         << std::flush;
    return false;
  }
  // The group itself or one below it.
  const std::string below = controlGroup_.back() == '/' ? controlGroup_ : controlGroup_ + "/";
  const bool inside = *group == controlGroup_ || group->rfind(below, 0) == 0;
  if (!inside) {
    err_ << "Process " << processId << " left alone: its control group " << *group << " is not "
         << unit_ << "'s (" << controlGroup_ << ")\n"
         << std::flush;
  }
  return inside;
}

RebooterSystem::Termination LinuxRebooterSystem::TerminateProcess(std::int32_t processId) {
  // Never a process group, every process, or init.
  if (processId <= 1) {
    err_ << "Process id " << processId << " refused: no daemon has it\n" << std::flush;
    return Termination::NotOpened;
  }
  const int process = OpenProcess(processId);
  if (process < 0) {
    const unsigned long code = LastSystemError();
    if (code != ESRCH) {
      err_ << SystemCallFailure("pidfd_open", std::to_string(processId), code) << "\n"
           << std::flush;
    }
    return Termination::NotOpened;
  }
  Termination result = Termination::StillActive;
  if (!InUnitsGroup(processId)) {
    result = Termination::NotOpened;
  } else if (KillProcess(process) < 0) {
    const unsigned long code = LastSystemError();
    if (code == ESRCH) {
      result = Termination::NotOpened;
    } else {
      err_ << SystemCallFailure("pidfd_send_signal", std::to_string(processId) + ", SIGKILL", code)
           << "\n"
           << std::flush;
    }
  } else {
    // The descriptor becomes readable once the process has ended, reaped or not.
    pollfd wait{process, POLLIN, 0};
    const int ready = poll(&wait, 1, static_cast<int>(kExitWait.count()));
    if (ready > 0) {
      result = Termination::Ended;
    } else if (ready < 0) {
      err_ << SystemCallFailure("poll", "pidfd " + std::to_string(processId), LastSystemError())
           << "\n"
           << std::flush;
    }
  }
  close(process);
  return result;
}

RebooterSystem::DeviceRestart LinuxRebooterSystem::RestartDevices(std::uint32_t vendorId,
                                                                  std::uint32_t productId) {
  DeviceRestart restart;
  // USB ids have 16 bits: larger ones name no device.
  if (vendorId > 0xFFFFU || productId > 0xFFFFU) return restart;
  const UsbRestartOutcome outcome = PowerCycleUsbDevices(
      static_cast<std::uint16_t>(vendorId), static_cast<std::uint16_t>(productId),
      /*baseStationsOnly=*/true, [this](int /*level*/, const std::string& line) {
        err_ << line << "\n" << std::flush;
      });
  restart.devices = outcome.matching;
  restart.refused = outcome.refused;
  restart.restarted = outcome.restarted;
  if (!outcome.listed) restart.reason = "the USB devices could not be listed through udev";
  restart.listed = outcome.listed;
  return restart;
}

void LinuxRebooterSystem::StartService() {
  const auto start = clock_.Now();
  if (!units_.Start(unit_)) return;
  WaitWhile([](const std::string& now) { return now == "activating"; }, start, kStartLimit);
}

}  // namespace Pellux
