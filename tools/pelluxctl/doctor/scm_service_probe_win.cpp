// The service probe of Windows: the service manager's configuration and state of a service.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/system_error.h"
#include "base/wide_text_win.h"
#include "tools/pelluxctl/doctor/service_probe.h"

namespace Pellux {
namespace {

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  ~ServiceHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  [[nodiscard]] SC_HANDLE Get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

const char* StartName(DWORD start) {
  switch (start) {
    case SERVICE_AUTO_START:
      return "enabled";
    case SERVICE_DISABLED:
      return "disabled";
    default:
      return "manual";
  }
}

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_RUNNING:
      return "active";
    case SERVICE_STOPPED:
      return "inactive";
    case SERVICE_START_PENDING:
    case SERVICE_CONTINUE_PENDING:
      return "activating";
    case SERVICE_STOP_PENDING:
      return "deactivating";
    default:
      return "paused";
  }
}

class ScmServiceProbe final : public ServiceProbe {
 public:
  UnitFacts Unit(const std::string& unit) override {
    UnitFacts facts;
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (manager.Get() == nullptr) {
      facts.error = SystemCallFailure("OpenSCManagerW", "", GetLastError());
      return facts;
    }
    facts.reached = true;
    const ServiceHandle service(OpenServiceW(manager.Get(), WideFromUtf8(unit).c_str(),
                                             SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (service.Get() == nullptr) {
      const DWORD code = GetLastError();
      if (code == ERROR_SERVICE_DOES_NOT_EXIST) {
        facts.loadState = "not-found";
      } else {
        facts.reached = false;
        facts.error = SystemCallFailure("OpenServiceW", unit, code);
      }
      return facts;
    }
    DWORD needed = 0;
    QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
    std::vector<unsigned char> buffer(needed > 0 ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (QueryServiceConfigW(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed) ==
        0) {
      facts.reached = false;
      facts.error = SystemCallFailure("QueryServiceConfigW", unit, GetLastError());
      return facts;
    }
    facts.loadState = "loaded";
    facts.unitFileState = StartName(config->dwStartType);
    if (config->lpBinaryPathName != nullptr) facts.program = Utf8FromWide(config->lpBinaryPathName);
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<BYTE*>(&status), sizeof status, &size) == 0) {
      facts.reached = false;
      facts.error = SystemCallFailure("QueryServiceStatusEx", unit, GetLastError());
      return facts;
    }
    facts.activeState = StateName(status.dwCurrentState);
    return facts;
  }
};

}  // namespace

std::unique_ptr<ServiceProbe> ServiceProbe::CreateForPlatform() {
  return std::make_unique<ScmServiceProbe>();
}

}  // namespace Pellux
