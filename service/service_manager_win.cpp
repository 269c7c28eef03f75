#include "service/service_manager_win.h"

#include <windows.h>

#include <memory>
#include <type_traits>

#include "base/system_error.h"
#include "service/service_waits.h"

namespace Pellux {
namespace {

struct HandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, HandleCloser>;

// The manager and the service, opened with `access`; null, with the failure told, when either
// cannot be.
struct OpenedService {
  ScHandle manager;
  ScHandle service;
};
OpenedService Open(const std::string& name, DWORD access, const ProblemLine& problem) {
  OpenedService opened;
  opened.manager.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!opened.manager) {
    problem(SystemCallFailure("OpenSCManagerA", "", GetLastError()));
    return opened;
  }
  opened.service.reset(OpenServiceA(opened.manager.get(), name.c_str(), access));
  if (!opened.service) problem(SystemCallFailure("OpenServiceA", name, GetLastError()));
  return opened;
}

ServiceStateQuery QueryOf(SC_HANDLE service, const std::string& name, const ProblemLine& problem) {
  return [service, name, problem]() -> std::optional<ServiceState> {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed) == 0) {
      problem(SystemCallFailure("QueryServiceStatusEx", name, GetLastError()));
      return std::nullopt;
    }
    return ServiceState{status.dwCurrentState, status.dwCheckPoint, status.dwWaitHint};
  };
}

}  // namespace

bool StartInstalledService(const std::string& name, Clock& clock, const ProblemLine& problem) {
  const OpenedService opened = Open(name, SERVICE_ALL_ACCESS, problem);
  if (!opened.service) return false;
  if (StartServiceA(opened.service.get(), 0, nullptr) == 0) {
    problem(SystemCallFailure("StartServiceA", name, GetLastError()));
    return false;
  }
  const ServiceStateQuery query = QueryOf(opened.service.get(), name, problem);
  const auto first = query();
  if (!first) return false;
  ServiceWaits(clock).WaitWhileStartPending(*first, query);
  return true;
}

bool StopInstalledService(const std::string& name, Clock& clock, const ProblemLine& problem) {
  const auto started = clock.Now();
  const OpenedService opened =
      Open(name, SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS, problem);
  if (!opened.service) return false;
  SC_HANDLE service = opened.service.get();
  ServiceWaits(clock).StopAndWait(
      QueryOf(service, name, problem),
      [&] {
        SERVICE_STATUS status{};
        if (ControlService(service, SERVICE_CONTROL_STOP, &status) != 0) return true;
        problem(SystemCallFailure("ControlService", name, GetLastError()));
        return false;
      },
      started);
  return true;
}

}  // namespace Pellux
