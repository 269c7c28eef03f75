#include "rebooter/win_rebooter_system_win.h"

#include <windows.h>
// SetupAPI after windows.h.
#include <setupapi.h>

#include <array>
#include <memory>
#include <type_traits>
#include <utility>

#include "base/system_error.h"
#include "service/service_manager_win.h"

namespace Pellux {
namespace {

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

struct DeviceListCloser {
  void operator()(HDEVINFO list) const { SetupDiDestroyDeviceInfoList(list); }
};
using DeviceList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceListCloser>;

// The class installer reads the parameters by these sizes, on both builds.
static_assert(sizeof(SP_CLASSINSTALL_HEADER) == 8);
static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20);

// The system's own message for `code` with its trailing line break removed; empty when the
// system has none (the reason then falls back to a text of its own).
std::string SystemMessage(DWORD code) {
  std::array<char, 512> text{};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     text.data(), static_cast<DWORD>(text.size()), nullptr);
  std::string message(text.data(), length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

}  // namespace

WinRebooterSystem::WinRebooterSystem(std::string serviceName, Clock& clock, std::ostream& err)
    : serviceName_(std::move(serviceName)), clock_(clock), err_(err) {}

void WinRebooterSystem::Problem(const std::string& line) {
  err_ << line << "\n" << std::flush;
}

void WinRebooterSystem::HandleCloser::operator()(void* handle) const {
  CloseHandle(handle);
}

void WinRebooterSystem::OpenServiceProcess() {
  serviceProcess_.reset();
  serviceProcessId_ = 0;
  const ScHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
  if (!manager) {
    Problem(SystemCallFailure("OpenSCManagerA", "", GetLastError()));
    return;
  }
  const ScHandle service(OpenServiceA(manager.get(), serviceName_.c_str(), SERVICE_QUERY_STATUS));
  if (!service) {
    Problem(SystemCallFailure("OpenServiceA", serviceName_, GetLastError()));
    return;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                           sizeof status, &needed) == 0) {
    Problem(SystemCallFailure("QueryServiceStatusEx", serviceName_, GetLastError()));
    return;
  }
  // A stopped service has no process (id 0).
  if (status.dwProcessId == 0) return;
  // Reading the exit code needs the query right as well: with terminate and synchronize alone,
  // GetExitCodeProcess is refused and a process still active could never be seen. (The full
  // query right, which Windows before Vista knows too.)
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE,
                               status.dwProcessId);
  if (process == nullptr) {
    Problem(SystemCallFailure("OpenProcess", "process " + std::to_string(status.dwProcessId),
                              GetLastError()));
    return;
  }
  serviceProcess_.reset(process);
  serviceProcessId_ = status.dwProcessId;
}

void WinRebooterSystem::StopService() {
  OpenServiceProcess();
  StopInstalledService(serviceName_, clock_, [this](const std::string& line) { Problem(line); });
}

std::optional<bool> WinRebooterSystem::ServiceRunning() {
  const ScHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
  if (!manager) {
    Problem(SystemCallFailure("OpenSCManagerA", "", GetLastError()));
    return std::nullopt;
  }
  const ScHandle service(OpenServiceA(manager.get(), serviceName_.c_str(),
                                      SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS));
  if (!service) {
    Problem(SystemCallFailure("OpenServiceA", serviceName_, GetLastError()));
    return std::nullopt;
  }
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                           sizeof status, &needed) == 0) {
    Problem(SystemCallFailure("QueryServiceStatusEx", serviceName_, GetLastError()));
    return std::nullopt;
  }
  return status.dwCurrentState == SERVICE_RUNNING;
}

RebooterSystem::Termination WinRebooterSystem::TerminateProcess(std::int32_t processId) {
  const auto id = static_cast<DWORD>(processId);
  if (!serviceProcess_ || id != serviceProcessId_) {
    Problem("Process " + std::to_string(id) + " is not the " + serviceName_ + " service's process" +
            (serviceProcess_ ? " (" + std::to_string(serviceProcessId_) + ")" : std::string()) +
            ": it is not ended");
    return Termination::NotOpened;
  }
  HANDLE process = serviceProcess_.get();
  const std::string subject = "process " + std::to_string(id);
  // Most often the process has ended with the stop: nothing to do, and nothing to tell.
  const DWORD already = WaitForSingleObject(process, 0);
  if (already == WAIT_OBJECT_0) return Termination::NotOpened;
  if (already == WAIT_FAILED)
    Problem(SystemCallFailure("WaitForSingleObject", subject, GetLastError()));
  if (::TerminateProcess(process, 0) == 0) {
    Problem(SystemCallFailure("TerminateProcess", subject, GetLastError()));
  } else if (WaitForSingleObject(process, static_cast<DWORD>(kTerminationWait.count())) ==
             WAIT_FAILED) {
    Problem(SystemCallFailure("WaitForSingleObject", subject, GetLastError()));
  }
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process, &exitCode) == 0) {
    Problem(SystemCallFailure("GetExitCodeProcess", subject, GetLastError()));
    return Termination::Ended;
  }
  return exitCode == STILL_ACTIVE ? Termination::StillActive : Termination::Ended;
}

RebooterSystem::DeviceRestart WinRebooterSystem::RestartDevices(std::uint32_t vendorId,
                                                                std::uint32_t productId) {
  DeviceRestart restart;
  const std::string prefix = UsbDeviceInstancePrefix(vendorId, productId);
  HDEVINFO listed =
      SetupDiGetClassDevsA(nullptr, prefix.c_str(), nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (listed == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    Problem(SystemCallFailure("SetupDiGetClassDevsA", prefix, code));
    restart.listed = false;
    restart.reason = DeviceListFailureReason(code, SystemMessage(code));
    return restart;
  }
  const DeviceList devices(listed);
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (SetupDiEnumDeviceInfo(devices.get(), index, &device) == 0) {
      const DWORD code = GetLastError();
      if (code != ERROR_NO_MORE_ITEMS)
        Problem(SystemCallFailure("SetupDiEnumDeviceInfo", prefix, code));
      break;
    }
    ++restart.devices;
    SP_PROPCHANGE_PARAMS change{};
    change.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = DICS_PROPCHANGE;
    change.Scope = DICS_FLAG_GLOBAL;
    change.HwProfile = 0;
    // A device that refuses the parameters is still asked to change: the call below tells.
    if (SetupDiSetClassInstallParamsA(devices.get(), &device, &change.ClassInstallHeader,
                                      sizeof change) == 0) {
      Problem(SystemCallFailure("SetupDiSetClassInstallParamsA", prefix, GetLastError()));
    }
    if (SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, devices.get(), &device) != 0) {
      ++restart.restarted;
    } else {
      Problem(SystemCallFailure("SetupDiCallClassInstaller", prefix, GetLastError()));
      restart.reason = kPropertyChangeFailedReason;
    }
  }
  return restart;
}

void WinRebooterSystem::StartService() {
  StartInstalledService(serviceName_, clock_, [this](const std::string& line) { Problem(line); });
}

}  // namespace Pellux
