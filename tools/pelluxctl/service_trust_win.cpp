#include "tools/pelluxctl/service_trust_win.h"

#include <windows.h>

#include "base/system_error.h"

namespace Pellux {

ServerTrust TrustOf(const UiSender& server, std::optional<std::uint32_t> servicePid,
                    const std::string& ownUser) {
  if (servicePid && *servicePid != 0 && server.pid == *servicePid) return ServerTrust::kTheService;
  if (server.system) return ServerTrust::kLocalSystem;
  if (!ownUser.empty() && server.user == ownUser) return ServerTrust::kThisUser;
  return ServerTrust::kNone;
}

std::string UntrustedServerText(const UiSender& server) {
  return "it is served by process " + std::to_string(server.pid) + " of " + server.user +
         ", not by the Pellux service, LocalSystem or this user";
}

std::optional<std::uint32_t> RunningServiceProcess(const char* name, std::string& error) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    error = SystemCallFailure("OpenSCManagerA", "", LastSystemError());
    return std::nullopt;
  }
  std::optional<std::uint32_t> pid;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    const DWORD code = GetLastError();
    // Not installed: nobody is the service.
    if (code != ERROR_SERVICE_DOES_NOT_EXIST) error = SystemCallFailure("OpenServiceA", name, code);
  } else {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed) == 0) {
      error = SystemCallFailure("QueryServiceStatusEx", name, LastSystemError());
    } else if (status.dwCurrentState != SERVICE_STOPPED && status.dwProcessId != 0) {
      pid = status.dwProcessId;
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return pid;
}

}  // namespace Pellux
