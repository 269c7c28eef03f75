#pragma once

#include <windows.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "app/engine_session_control.h"
#include "app/uploader.h"
#include "base/clock.h"
#include "link/base_station_devices.h"
#include "service/host_events.h"
#include "service/service_name.h"
#include "service/service_win.h"
#include "ui/channel/service_pipe.h"
#include "ui/log/log_folder.h"
#include "ui/settings/settings_report_relay.h"
#include "ui/settings/settings_store.h"
#include "ui/win_user_interface.h"

namespace Pellux {

// The "Pellux" service: the whole uploader (user interface, engine and radio, through the
// Uploader assembly) and the service pipe, turned on and off by the service manager; device,
// power and session events become log lines and engine actions (host_events.h). One per
// process.
//
// The UI channel: when the service pipe cannot listen (another process holds its name, say),
// the service reports why to the event log and the activity log and tries again every
// kListenRetry on its clock until it can, and says so then; a stop ends the tries.
//
// Threads: as Service says. Init and Run on service main's thread, which also runs the
// listener's retries; OnStop and the events on the dispatcher's. The engine serialises the
// actions of both with its own. Not final: a test derives from it to hand it the control
// handler's events itself.
class PXService : public Service {
 public:
  static constexpr const char* kName = kPelluxServiceName;
  static constexpr const char* kDisplayName = "Pellux Data Uploader";
  static constexpr const char* kDescription =
      "Uploads your Pellux's data to the Pellux web site in the background";

  // How long the service waits before it tries again to listen for its UIs.
  static constexpr std::chrono::milliseconds kListenRetry{10000};

  struct Pieces {
    SettingsStore& settings;
    BaseStationDevices& devices;
    Clock& clock;
    // The program's folder (html_templates\) for the user interface; empty: this program's.
    std::string programFolder;
    // The service pipe's name.
    std::string pipeName = NamedPipeServer::kServiceName;
    // Where the activity log is kept; null: the system's folder (ProgramData).
    std::unique_ptr<LogFolder> logFolder = nullptr;
    // The resource module the string table reads (mapped as an image resource); null: this
    // program's own table.
    HMODULE resources = nullptr;
    // Where the settings store's reports are held until the activity log is open (Init); they go
    // to the activity log and the debugger output from then on, until the service is destroyed.
    // Null: the store reports elsewhere.
    SettingsReportRelay* settingsReports = nullptr;
  };

  // What `pieces` refers to must outlive the service.
  explicit PXService(Pieces pieces);
  ~PXService() override;

  [[nodiscard]] CommunicationManager& Engine() { return uploader_.Engine(); }
  [[nodiscard]] WinUserInterface& Interface() { return *ui_; }

 protected:
  bool Init() override;
  bool Run() override;
  void OnStop() override;
  void OnPause() override;
  void OnContinue() override;
  void OnShutdown() override;
  DWORD OnDeviceEvent(DWORD eventType, void* eventData) override;
  DWORD OnPowerEvent(DWORD eventType, void* eventData) override;
  DWORD OnSessionChange(DWORD eventType, void* eventData) override;
  bool OnUserControl(DWORD code) override { return code == 128; }

 private:
  // The event log's messages of the UI channel (service_messages.mc).
  static constexpr DWORD kEventUiChannelDown = 109;
  static constexpr DWORD kEventUiChannelUp = 110;
  static constexpr DWORD kEventActivityLogRefused = 111;
  // A family of base stations absent for a library missing from the program's folder.
  static constexpr DWORD kEventDevicesUnavailable = 113;

  // Logs the outcome's lines and hands its action to the engine.
  void Apply(const HostEventOutcome& outcome);
  void Log(const std::string& text, int level);
  // The service pipe's listener at `name`, logging through the user interface.
  std::unique_ptr<PipeServer> MakeListener(const std::string& name);
  // Starts the service pipe's listener; when it cannot, reports why and arms the retry.
  // Service main's thread.
  void Listen();

  Clock& clock_;
  BaseStationDevices& devices_;
  SettingsReportRelay* const settingsReports_;
  WinUserInterface* ui_ = nullptr;
  Uploader uploader_;
  EngineSessionControl control_;
  const std::string pipeName_;
  // A line of the listener's own that is not logged again (its failure, while it repeats);
  // the listener's thread logs too, hence its own lock.
  std::mutex quietMutex_;
  std::string quietLine_;
  // Owned by the service pipe; made before it.
  NamedPipeServer* listener_ = nullptr;
  ServicePipe pipe_;
  HDEVNOTIFY notification_ = nullptr;

  // Service main's own work while it runs: the listener's retries. OnStop ends it.
  boost::asio::io_context mainQueue_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> mainWork_;
  // Guards the listener's start and stop and the retry, which Listen (service main) and OnStop
  // (the dispatcher) both use.
  std::mutex listenMutex_;
  std::unique_ptr<OneShotTimer> listenRetry_;
  bool stopping_ = false;
  // Why the listener could not start at the last try; empty while it listens.
  std::string listenFailure_;
};

}  // namespace Pellux
