#include "service/px_service_win.h"

#include <dbt.h>
#include <initguid.h>

#include <cstdlib>
#include <ctime>
#include <utility>
// GUID_DEVINTERFACE_USB_DEVICE, defined here (initguid.h first).
#include <usbiodef.h>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "service/device_names_win.h"

namespace Pellux {

PXService::PXService(Pieces pieces)
    : Service(kName, kDisplayName, kDescription),
      clock_(pieces.clock),
      devices_(pieces.devices),
      settingsReports_(pieces.settingsReports),
      uploader_({.settings = pieces.settings,
                 .devices = pieces.devices,
                 .clock = pieces.clock,
                 .makeUserInterface =
                     [this, &pieces](SettingsStore& settings, NetworkWorkerPool& pool) {
                       auto made = std::make_unique<WinUserInterface>(
                           settings, pool, AnswersToEngine(), pieces.clock, pieces.programFolder,
                           std::move(pieces.logFolder), pieces.resources);
                       ui_ = made.get();
                       return made;
                     },
                 // What the transport says of an exchange (a failure, its reason) reaches the
                 // log: the engine itself only learns that the exchange failed.
                 .httpLog = [this](const std::string& line) { Log(line, LogLevel::kError); },
                 .httpLimits = {},
                 .radioTiming = {},
                 .identifiers = nullptr}),
      control_(uploader_.Engine()),
      pipeName_(pieces.pipeName),
      pipe_(control_, *ui_, pieces.clock, MakeListener(pieces.pipeName)),
      mainWork_(mainQueue_.get_executor()),
      listenRetry_(pieces.clock.CreateTimer(mainQueue_.get_executor())) {}

PXService::~PXService() {
  if (settingsReports_ != nullptr) settingsReports_->SendTo(nullptr);
  {
    std::lock_guard guard(listenMutex_);
    stopping_ = true;
    listenRetry_->Cancel();
  }
  pipe_.Stop();
  if (notification_ != nullptr) UnregisterDeviceNotification(notification_);
}

void PXService::Log(const std::string& text, int level) {
  ui_->Log(text, level, kNoContext);
}

std::unique_ptr<PipeServer> PXService::MakeListener(const std::string& name) {
  auto listener =
      std::make_unique<NamedPipeServer>(name, [this](const std::string& line, int level) {
        {
          std::lock_guard guard(quietMutex_);
          if (!quietLine_.empty() && line == quietLine_) return;
        }
        Log(line, level);
      });
  listener_ = listener.get();
  return listener;
}

void PXService::Listen() {
  std::lock_guard guard(listenMutex_);
  if (stopping_) return;
  // A failure that repeats was logged at its first try.
  {
    std::lock_guard quiet(quietMutex_);
    quietLine_ = listenFailure_.empty() ? std::string()
                                        : "UI: Cannot listen for UI messages: " + listenFailure_;
  }
  const bool listening = pipe_.Start();
  {
    std::lock_guard quiet(quietMutex_);
    quietLine_.clear();
  }
  if (listening) {
    if (!listenFailure_.empty()) {
      Log(FormatLine("UI: The UI channel is up: listening for UI messages at %s", pipeName_).str(),
          LogLevel::kLifecycle);
      ReportServiceEvent(EVENTLOG_INFORMATION_TYPE, kEventUiChannelUp);
      listenFailure_.clear();
    }
    return;
  }
  const std::string failure = listener_->StartFailure();
  if (failure != listenFailure_) {
    ReportServiceEvent(EVENTLOG_ERROR_TYPE, kEventUiChannelDown, failure);
    Log(FormatLine("UI: No UI reaches the service until it listens at %s; trying again every %d s",
                   pipeName_,
                   std::chrono::duration_cast<std::chrono::seconds>(kListenRetry).count())
            .str(),
        LogLevel::kError);
  }
  listenFailure_ = failure;
  listenRetry_->Start(kListenRetry, [this](bool cancelled) {
    if (!cancelled) Listen();
  });
}

bool PXService::Init() {
  // Logging is on, but its folder or file was refused (a link planted in ProgramData, a folder
  // of another owner): the administrator hears of it where services report.
  if (!ui_->Activity().Open() && ui_->Activity().IsActive()) {
    ReportServiceEvent(EVENTLOG_WARNING_TYPE, kEventActivityLogRefused,
                       ui_->Activity().OpenFailure());
  }
  // The settings problems met so far (the engine read its settings when it was made) and from
  // now on: a service has no error stream.
  if (settingsReports_ != nullptr) {
    settingsReports_->SendTo([this](const std::string& line) { Log(line, LogLevel::kError); });
  }
  // A bridge library missing from the program's folder: its family of base stations is never
  // found, which the administrator hears of where services report and in the activity log.
  for (const std::string& line : devices_.Unavailable()) {
    Log(line, LogLevel::kError);
    ReportServiceEvent(EVENTLOG_WARNING_TYPE, kEventDevicesUnavailable, line);
  }
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = 32;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_USB_DEVICE;
  notification_ =
      RegisterDeviceNotificationA(StatusHandle(), &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
  if (notification_ == nullptr) {
    const DWORD code = GetLastError();
    Log(FormatLine("Failed to register device notification [0x%08x]: %s", code,
                   SystemErrorText(code))
            .str(),
        LogLevel::kError);
  }
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  return true;
}

bool PXService::Run() {
  Listen();
  {
    // A stop that came first has shut the engine down: no session after it. Held through the
    // action, so that a stop coming now hands "shutdown" after it.
    std::lock_guard guard(listenMutex_);
    if (!stopping_) Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  }
  // Until OnStop: the listener's retries, when it could not start.
  mainQueue_.run();
  return true;
}

void PXService::OnStop() {
  Log("SERVICE STOP EVENT", LogLevel::kUserInput);
  // The UI channel closes before the engine shuts down: a UI message handled after "shutdown"
  // (or the UI watchdog firing then) would start a session again, reopening the base station.
  // Stopping the pipe cancels the UI watchdog and waits for a message being handled.
  {
    std::lock_guard guard(listenMutex_);
    stopping_ = true;
    listenRetry_->Cancel();
    pipe_.Stop();
  }
  Log("UI: The UI channel is closed", LogLevel::kUserInput);
  Engine().ProcessAction(0, "shutdown", "", false, kNoContext);
  if (notification_ != nullptr && UnregisterDeviceNotification(notification_) != 0) {
    notification_ = nullptr;
  }
  mainWork_.reset();
  mainQueue_.stop();
}

void PXService::OnPause() {
  Log("SERVICE PAUSE EVENT", LogLevel::kUserInput);
}
void PXService::OnContinue() {
  Log("SERVICE CONTINUE EVENT", LogLevel::kUserInput);
}
void PXService::OnShutdown() {
  Log("SERVICE SHUTDOWN EVENT", LogLevel::kUserInput);
}

void PXService::Apply(const HostEventOutcome& outcome) {
  for (const HostEventOutcome::Line& line : outcome.lines) Log(line.text, line.level);
  if (outcome.action) {
    Engine().ProcessAction(0, outcome.action->name, outcome.action->argument, false, kNoContext);
  }
}

DWORD PXService::OnDeviceEvent(DWORD eventType, void* eventData) {
  DeviceEvent event;
  event.type = eventType;
  event.dataAddress = reinterpret_cast<std::uintptr_t>(eventData);
  if (const auto* header = static_cast<const DEV_BROADCAST_HDR*>(eventData)) {
    event.deviceType = header->dbch_devicetype;
    if (event.deviceType == DBT_DEVTYP_DEVICEINTERFACE) {
      const auto* device = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(eventData);
      event.interfaceName = reinterpret_cast<const char16_t*>(device->dbcc_name);
    }
  }
  const ClientSettings settings = Engine().Settings();
  Apply(TranslateDeviceEvent(event, settings.vendorId, settings.productId, SetupApiDeviceName));
  return 0;
}

DWORD PXService::OnPowerEvent(DWORD eventType, void* eventData) {
  Apply(TranslatePowerEvent(eventType, reinterpret_cast<std::uintptr_t>(eventData),
                            Engine().SerialInUse()));
  return 0;
}

DWORD PXService::OnSessionChange(DWORD eventType, void* eventData) {
  Apply(TranslateSessionChange(eventType, reinterpret_cast<std::uintptr_t>(eventData)));
  return 0;
}

}  // namespace Pellux
