#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "service/fixed_text.h"

namespace Pellux {

// A Windows service of its own process: the status record it reports to the service manager,
// its entry points (service main and the control handler, which find the object by name), the
// event log reports, and the operations behind the program's switches (install, uninstall,
// start, stop). A derived class gives the work and the reactions through the virtual
// operations, each with a default here.
//
// Threads: the switches run on the program's main thread. Under the dispatcher, service main
// runs on a thread the service manager makes (it stays in Run), and the control handler with
// every On* operation on the dispatcher's thread (the program's main thread).
class Service {
 public:
  static constexpr std::size_t kNameSize = 256;
  static constexpr std::size_t kVersionSize = 64;
  // The status record's service type and accepted controls (stop, shutdown, power event,
  // session change: 0xC5; no hardware profile change, which the manager then refuses itself).
  static constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS;
  static constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                             SERVICE_ACCEPT_POWEREVENT |
                                             SERVICE_ACCEPT_SESSIONCHANGE;
  static_assert(kControlsAccepted == 0xC5);
  // The recovery /I sets: the service manager restarts the service kRestartDelay after each of
  // its first kRestarts failures (a crash, or a stop with a non-zero exit code), and counts
  // failures afresh after kFailureResetPeriod without one.
  static constexpr DWORD kRestartDelayMs = 60000;
  static constexpr int kRestarts = 2;
  static constexpr DWORD kFailureResetPeriodS = 86400;
  // The service-specific exit code of a failed start or run whose thread had no system code.
  static constexpr DWORD kFailedExitCode = 1;

  // Adds the service to the process-wide list; throws std::runtime_error("A service by that
  // name has already been created.") when one of that name is there. Opens the event source.
  Service(const std::string& name, const std::string& displayName, const std::string& description);
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  virtual ~Service();

  // The switches. Each returns whether the operation succeeded. Install sets the recovery
  // actions too; Uninstall stops a running service first, and removes the event source.
  bool Install();
  bool Uninstall();
  bool Start();
  bool Stop();
  // "%d.%d.%d" of the program's file version; empty without a version resource.
  [[nodiscard]] const char* Version() const { return version_.c_str(); }
  [[nodiscard]] const char* Name() const { return name_.c_str(); }

  // Hands the process to the service manager's dispatcher and returns, when it does, the exit
  // code of the status record.
  DWORD RunDispatcher();

  // The exit code of the status record.
  [[nodiscard]] DWORD ExitCode() const {
    std::lock_guard guard(statusMutex_);
    return status_.dwWin32ExitCode;
  }
  [[nodiscard]] bool IsRunning() const { return running_.load(); }

 protected:
  // The service's work: returns only once the service is to stop. False: it failed, and the
  // service stops with a non-zero exit code (so that the recovery actions apply), as it does
  // when Init fails.
  virtual bool Run() { return true; }
  virtual bool Init() { return true; }
  virtual void OnStop() {}
  virtual void OnInterrogate() {}
  virtual void OnPause() {}
  virtual void OnContinue() {}
  virtual void OnShutdown() {}
  virtual DWORD OnDeviceEvent(DWORD /*eventType*/, void* /*eventData*/) { return 0; }
  virtual DWORD OnPowerEvent(DWORD /*eventType*/, void* /*eventData*/) { return 0; }
  virtual DWORD OnSessionChange(DWORD /*eventType*/, void* /*eventData*/) { return 0; }
  // True when the user control code (above 127) was handled.
  virtual bool OnUserControl(DWORD /*code*/) { return false; }

  // Reports event `id` of the message table with the service name as its insertion string;
  // nothing when the event source could not be registered.
  void ReportServiceEvent(WORD type, DWORD id);
  // The same with `detail` as the second insertion string (a reason in the system's words).
  void ReportServiceEvent(WORD type, DWORD id, const std::string& detail);
  [[nodiscard]] SERVICE_STATUS_HANDLE StatusHandle() const { return statusHandle_; }
  // The clock of the start and stop waits; tests give a virtual one.
  void SetClock(Clock& clock) { clock_ = &clock; }

 private:
  friend struct ServiceEntryPoints;
  void Main();
  DWORD Control(DWORD control, DWORD eventType, void* eventData);
  // Sets the state (and, when given, the exit code with checkpoint and wait hint 0) and, with
  // `report`, reports the record to the service manager.
  void UpdateStatus(DWORD state, bool report, const DWORD* exitCode = nullptr);
  // Records a failed start or run: `code` as the exit code, or, when the thread had none, the
  // service-specific kFailedExitCode.
  void SetFailureExitCode(DWORD code);
  // Sets the restart-on-failure actions of the service `service`; false (told) when refused.
  bool SetRecoveryActions(SC_HANDLE service);
  // Reports the record as it is now.
  void ReportCurrentStatus();

  FixedText<kNameSize> name_;
  FixedText<kNameSize> displayName_;
  FixedText<kNameSize> description_;
  FixedText<kVersionSize> version_;
  // Service main's thread and the dispatcher's both change the record.
  mutable std::mutex statusMutex_;
  SERVICE_STATUS status_{};
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  HANDLE eventSource_ = nullptr;
  std::atomic<bool> running_{false};
  Clock* clock_ = &SystemClock::Instance();
};

}  // namespace Pellux
