#pragma once

#include <windows.h>

#include <memory>
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
#include "ui/settings/settings_store.h"
#include "ui/win_user_interface.h"

namespace Pellux {

// The "Pellux" service: the whole uploader (user interface, engine and radio, through the
// Uploader assembly) and the service pipe, turned on and off by the service manager; device,
// power and session events become log lines and engine actions (host_events.h). One per
// process.
//
// Threads: as Service says. Init and Run on service main's thread; OnStop and the events on the
// dispatcher's. The engine serialises the actions of both with its own. Not final: a test
// derives from it to hand it the control handler's events itself.
class PXService : public Service {
 public:
  static constexpr const char* kName = kPelluxServiceName;
  static constexpr const char* kDisplayName = "Pellux Data Uploader";
  static constexpr const char* kDescription =
      "Uploads your Pellux's data to the Pellux web site in the background";

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
  // Logs the outcome's lines and hands its action to the engine.
  void Apply(const HostEventOutcome& outcome);
  void Log(const std::string& text, int level);

  Clock& clock_;
  WinUserInterface* ui_ = nullptr;
  Uploader uploader_;
  EngineSessionControl control_;
  ServicePipe pipe_;
  HANDLE stopEvent_ = nullptr;
  HDEVNOTIFY notification_ = nullptr;
};

}  // namespace Pellux
