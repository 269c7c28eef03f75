#include "service/service_win.h"

#include <map>
#include <mutex>
#include <stdexcept>

#include "base/system_error.h"
#include "service/service_manager_win.h"
#include "ui/log/program_version.h"

namespace Pellux {
namespace {

// The messages of the program's message table (service_messages.mc).
constexpr DWORD kEventInstalled = 100;
constexpr DWORD kEventRemoved = 101;
constexpr DWORD kEventNotRemoved = 102;
constexpr DWORD kEventNoControlHandler = 103;
constexpr DWORD kEventInitFailed = 104;
constexpr DWORD kEventStarted = 105;
constexpr DWORD kEventUnsupportedRequest = 106;
constexpr DWORD kEventStopped = 108;

constexpr const char* kEventLogKey = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kPathSize = 260;

// The services of this process by name, for the entry points the service manager calls.
std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, Service*>& Registry() {
  static std::map<std::string, Service*> services;
  return services;
}

Service* Find(const char* name) {
  std::lock_guard guard(RegistryMutex());
  const auto found = Registry().find(name != nullptr ? name : "");
  return found != Registry().end() ? found->second : nullptr;
}

void PrintProblem(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

// The entry points the service manager calls, with access to the service's insides.
struct ServiceEntryPoints {
  static void WINAPI Main(DWORD argc, LPSTR* argv) {
    if (Service* service = Find(argc > 0 ? argv[0] : nullptr)) service->Main();
  }
  static DWORD WINAPI Handler(DWORD control, DWORD eventType, void* eventData, void* context) {
    return static_cast<Service*>(context)->Control(control, eventType, eventData);
  }
};

Service::Service(const std::string& name, const std::string& displayName,
                 const std::string& description)
    : name_(name), displayName_(displayName), description_(description) {
  {
    std::lock_guard guard(RegistryMutex());
    if (!Registry().emplace(name_.c_str(), this).second) {
      throw std::runtime_error("A service by that name has already been created.");
    }
  }
  version_.Assign(ProgramVersion::OfThisProgram().text);
  status_.dwServiceType = kServiceType;
  status_.dwCurrentState = SERVICE_STOPPED;
  status_.dwControlsAccepted = kControlsAccepted;
  eventSource_ = RegisterEventSourceA(nullptr, name_.c_str());
}

Service::~Service() {
  if (eventSource_ != nullptr) DeregisterEventSource(eventSource_);
  std::lock_guard guard(RegistryMutex());
  Registry().erase(name_.c_str());
}

void Service::ReportServiceEvent(WORD type, DWORD id) {
  if (eventSource_ == nullptr) return;
  const char* strings[] = {name_.c_str()};
  ::ReportEventA(eventSource_, type, 0, id, nullptr, 1, 0, strings, nullptr);
}

void Service::ReportServiceEvent(WORD type, DWORD id, const std::string& detail) {
  if (eventSource_ == nullptr) return;
  const char* strings[] = {name_.c_str(), detail.c_str()};
  ::ReportEventA(eventSource_, type, 0, id, nullptr, 2, 0, strings, nullptr);
}

bool Service::Install() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    PrintProblem(SystemCallFailure("OpenSCManagerA", "", GetLastError()));
    return false;
  }
  char path[kPathSize] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, kPathSize);
  if (length == 0 || length >= kPathSize) {
    PrintProblem(SystemCallFailure("GetModuleFileNameA", "", GetLastError()));
    CloseServiceHandle(manager);
    return false;
  }
  // Quoted: an unquoted path with a blank ("C:\Program Files\...") would let the service
  // manager start "C:\Program.exe" instead.
  const std::string binaryPath = std::string("\"") + path + "\"";
  SC_HANDLE service =
      CreateServiceA(manager, name_.c_str(), displayName_.c_str(), SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                     binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr) {
    PrintProblem(SystemCallFailure("CreateServiceA", name_.c_str(), GetLastError()));
    CloseServiceHandle(manager);
    return false;
  }
  if (!description_.view().empty()) {
    SERVICE_DESCRIPTIONA text{description_.data()};
    if (ChangeServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, &text) == 0) {
      PrintProblem(SystemCallFailure("ChangeServiceConfig2A", name_.c_str(), GetLastError()));
    }
  }
  const bool recovers = SetRecoveryActions(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (!recovers) return false;

  const FixedText<256> keyPath(std::string(kEventLogKey) + name_.c_str());
  HKEY key = nullptr;
  const LONG created = RegCreateKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str(), &key);
  if (created != ERROR_SUCCESS) {
    PrintProblem(SystemCallFailure("RegCreateKeyA", keyPath.c_str(), static_cast<DWORD>(created)));
    return false;
  }
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  LONG set = RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(path), length + 1);
  if (set == ERROR_SUCCESS) {
    set = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                         sizeof types);
  }
  if (set != ERROR_SUCCESS) {
    PrintProblem(SystemCallFailure("RegSetValueExA", keyPath.c_str(), static_cast<DWORD>(set)));
  }
  RegCloseKey(key);
  ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventInstalled);
  return true;
}

bool Service::SetRecoveryActions(SC_HANDLE service) {
  SC_ACTION actions[kRestarts];
  for (SC_ACTION& action : actions) action = {SC_ACTION_RESTART, kRestartDelayMs};
  SERVICE_FAILURE_ACTIONSA failure{};
  failure.dwResetPeriod = kFailureResetPeriodS;
  failure.cActions = kRestarts;
  failure.lpsaActions = actions;
  if (ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure) == 0) {
    PrintProblem(SystemCallFailure("ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS)",
                                   name_.c_str(), GetLastError()));
    return false;
  }
  // A stop with a non-zero exit code counts as a failure too, not only a crash. A system that
  // does not know the setting (Windows before Vista, and Wine, which answers "invalid
  // parameter") counts crashes only: no failure of the install.
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  if (ChangeServiceConfig2A(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag) == 0) {
    const DWORD code = GetLastError();
    if (code == ERROR_INVALID_LEVEL || code == ERROR_INVALID_PARAMETER) return true;
    PrintProblem(SystemCallFailure("ChangeServiceConfig2A(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)",
                                   name_.c_str(), code));
    return false;
  }
  return true;
}

bool Service::Uninstall() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    PrintProblem(SystemCallFailure("OpenSCManagerA", "", GetLastError()));
    return false;
  }
  SC_HANDLE service = OpenServiceA(manager, name_.c_str(), DELETE);
  if (service == nullptr) {
    PrintProblem(SystemCallFailure("OpenServiceA", name_.c_str(), GetLastError()));
    CloseServiceHandle(manager);
    return false;
  }
  // A running service is stopped first: deleted while it runs, it would stay until it stopped
  // by itself, and its program could not be removed.
  StopInstalledService(name_.c_str(), *clock_, PrintProblem);
  const bool deleted = DeleteService(service) != 0;
  if (deleted) {
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventRemoved);
  } else {
    PrintProblem(SystemCallFailure("DeleteService", name_.c_str(), GetLastError()));
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventNotRemoved);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  if (deleted) {
    const FixedText<256> keyPath(std::string(kEventLogKey) + name_.c_str());
    const LONG removed = RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
      PrintProblem(
          SystemCallFailure("RegDeleteKeyA", keyPath.c_str(), static_cast<DWORD>(removed)));
    }
  }
  return deleted;
}

bool Service::Start() {
  return StartInstalledService(name_.c_str(), *clock_, PrintProblem);
}

bool Service::Stop() {
  return StopInstalledService(name_.c_str(), *clock_, PrintProblem);
}

DWORD Service::RunDispatcher() {
  SERVICE_TABLE_ENTRYA table[] = {{name_.data(), &ServiceEntryPoints::Main}, {nullptr, nullptr}};
  if (StartServiceCtrlDispatcherA(table) == 0) {
    // Not started by the service manager (run by hand, say): a failure, not a quiet exit 0.
    const DWORD code = GetLastError();
    PrintProblem(SystemCallFailure("StartServiceCtrlDispatcherA", name_.c_str(), code));
    return code;
  }
  return ExitCode();
}

void Service::UpdateStatus(DWORD state, bool report, const DWORD* exitCode) {
  SERVICE_STATUS copy{};
  SERVICE_STATUS_HANDLE handle = nullptr;
  {
    std::lock_guard guard(statusMutex_);
    status_.dwCurrentState = state;
    if (exitCode != nullptr) {
      status_.dwWin32ExitCode = *exitCode;
      status_.dwCheckPoint = 0;
      status_.dwWaitHint = 0;
    }
    copy = status_;
    handle = statusHandle_;
  }
  // Reported outside the lock: the manager may wait in SetServiceStatus (for the stopped
  // state) until a control handler that wants the lock has returned.
  if (report && handle != nullptr) SetServiceStatus(handle, &copy);
}

void Service::SetFailureExitCode(DWORD code) {
  std::lock_guard guard(statusMutex_);
  if (code == NO_ERROR) {
    status_.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status_.dwServiceSpecificExitCode = kFailedExitCode;
  } else {
    status_.dwWin32ExitCode = code;
  }
  status_.dwCheckPoint = 0;
  status_.dwWaitHint = 0;
}

void Service::ReportCurrentStatus() {
  SERVICE_STATUS copy{};
  SERVICE_STATUS_HANDLE handle = nullptr;
  {
    std::lock_guard guard(statusMutex_);
    copy = status_;
    handle = statusHandle_;
  }
  if (handle != nullptr) SetServiceStatus(handle, &copy);
}

void Service::Main() {
  UpdateStatus(SERVICE_START_PENDING, false);
  SERVICE_STATUS_HANDLE handle =
      RegisterServiceCtrlHandlerExA(name_.c_str(), &ServiceEntryPoints::Handler, this);
  if (handle == nullptr) {
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventNoControlHandler);
    return;
  }
  {
    std::lock_guard guard(statusMutex_);
    statusHandle_ = handle;
  }
  UpdateStatus(SERVICE_START_PENDING, true);
  const bool initialised = Init();
  const DWORD initError = GetLastError();
  if (initialised) {
    ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventStarted);
    UpdateStatus(SERVICE_RUNNING, true, &initError);
    const DWORD none = 0;
    UpdateStatus(SERVICE_RUNNING, false, &none);
    running_.store(true);
    if (!Run()) SetFailureExitCode(GetLastError());
  } else {
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventInitFailed);
    SetFailureExitCode(initError);
  }
  UpdateStatus(SERVICE_STOPPED, true);
}

DWORD Service::Control(DWORD control, DWORD eventType, void* eventData) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      UpdateStatus(SERVICE_STOP_PENDING, true);
      running_.store(false);
      OnStop();
      ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventStopped);
      break;
    case SERVICE_CONTROL_PAUSE:
      OnPause();
      break;
    case SERVICE_CONTROL_CONTINUE:
      OnContinue();
      break;
    case SERVICE_CONTROL_INTERROGATE:
      OnInterrogate();
      break;
    case SERVICE_CONTROL_SHUTDOWN:
      OnShutdown();
      break;
    case SERVICE_CONTROL_DEVICEEVENT:
      OnDeviceEvent(eventType, eventData);
      break;
    case SERVICE_CONTROL_POWEREVENT:
      OnPowerEvent(eventType, eventData);
      break;
    case SERVICE_CONTROL_SESSIONCHANGE:
      OnSessionChange(eventType, eventData);
      break;
    default:
      if (control <= 127 || !OnUserControl(control)) {
        ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventUnsupportedRequest);
      }
      break;
  }
  ReportCurrentStatus();
  return NO_ERROR;
}

}  // namespace Pellux
