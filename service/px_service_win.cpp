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
      uploader_({.settings = pieces.settings,
                 .devices = pieces.devices,
                 .clock = pieces.clock,
                 .makeUserInterface =
                     [this, &pieces](SettingsStore& settings, NetworkWorkerPool& pool) {
                       auto made = std::make_unique<WinUserInterface>(
                           settings, pool, AnswersToEngine(), pieces.clock, pieces.programFolder,
                           std::move(pieces.logFolder));
                       ui_ = made.get();
                       return made;
                     },
                 .httpLog = {},
                 .httpLimits = {},
                 .radioTiming = {},
                 .identifiers = nullptr}),
      control_(uploader_.Engine()),
      pipe_(control_, *ui_, pieces.clock, ui_->MakeListener(pieces.pipeName)) {}

PXService::~PXService() {
  pipe_.Stop();
  if (notification_ != nullptr) UnregisterDeviceNotification(notification_);
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
}

void PXService::Log(const std::string& text, int level) {
  ui_->Log(text, level, kNoContext);
}

bool PXService::Init() {
  ui_->Activity().Open();
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
  stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (stopEvent_ == nullptr) {
    Log(SystemCallFailure("CreateEventA", "stop event", GetLastError()), LogLevel::kError);
    return false;
  }
  pipe_.Start();
  Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  WaitForSingleObject(stopEvent_, INFINITE);
  return true;
}

void PXService::OnStop() {
  Log("SERVICE STOP EVENT", LogLevel::kUserInput);
  Engine().ProcessAction(0, "shutdown", "", false, kNoContext);
  if (notification_ != nullptr && UnregisterDeviceNotification(notification_) != 0) {
    notification_ = nullptr;
  }
  pipe_.Stop();
  if (stopEvent_ != nullptr) SetEvent(stopEvent_);
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
