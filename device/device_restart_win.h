#pragma once

#include <windows.h>
// The SetupAPI and configuration-manager declarations; both libraries are loaded at run time.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>

namespace Pellux {

// The device restart: every present device that a pattern selects is disabled,
// then enabled again, through the Windows device installer. setupapi.dll and cfgmgr32.dll are
// loaded by full path from the system folder for each pass and unloaded after it.
//
// Patterns: a leading '@' matches the device instance id ("@USB\VID_0FCF&PID_1004\*"); '*'
// matches any run of characters; case is ignored. Without '@' the pattern is matched against
// each device's hardware and compatible ids; "*" alone selects every device and "=Name" every
// device of the setup class Name.

// What one pass reports. The callers ignore it.
inline constexpr int kRestartPassDone = 0;
inline constexpr int kRestartPassNeedsReboot = 1;  // devices changed, one needs a reboot
inline constexpr int kRestartPassUnavailable = 2;  // the libraries or a function are missing

enum class RestartPass {
  kDisable,  // DICS_DISABLE, config-specific
  kEnable,   // DICS_ENABLE global (result ignored), then DICS_ENABLE config-specific
};

struct DeviceRestartResult {
  int disable = kRestartPassUnavailable;
  int enable = kRestartPassUnavailable;
};

// The disable pass, then the enable pass, over the same pattern.
DeviceRestartResult RestartDevicesMatching(const std::string& pattern);
// Both passes for every USB device with these ids.
DeviceRestartResult RestartUsbDevices(std::uint16_t vendorId, std::uint16_t productId);

// --- The parts, for tests ---

// Every function a pass may call, as bound from the two libraries.
struct SetupApiFunctions {
  decltype(&::SetupDiCallClassInstaller) callClassInstaller = nullptr;
  decltype(&::SetupDiEnumDeviceInfo) enumDeviceInfo = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;
  decltype(&::SetupDiSetClassInstallParamsA) setClassInstallParams = nullptr;
  decltype(&::SetupDiGetDeviceInstallParamsA) getDeviceInstallParams = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) getDeviceRegistryProperty = nullptr;
  decltype(&::SetupDiClassGuidsFromNameExA) classGuidsFromNameEx = nullptr;
  decltype(&::SetupDiGetClassDevsExA) getClassDevsEx = nullptr;
  decltype(&::SetupDiCreateDeviceInfoListExA) createDeviceInfoListEx = nullptr;
  decltype(&::SetupDiOpenDeviceInfoA) openDeviceInfo = nullptr;
  decltype(&::SetupDiGetDeviceInfoListDetailA) getDeviceInfoListDetail = nullptr;
  decltype(&::CM_Get_Device_ID_ExA) getDeviceIdEx = nullptr;
};

// setupapi.dll and cfgmgr32.dll of one folder (the system folder in production), loaded by
// full path with every function bound, unloaded again when this goes.
class SetupApiLibraries {
 public:
  explicit SetupApiLibraries(const std::wstring& folder);
  SetupApiLibraries(const SetupApiLibraries&) = delete;
  SetupApiLibraries& operator=(const SetupApiLibraries&) = delete;
  ~SetupApiLibraries();

  // False when either library or any function is missing (both are then unloaded already).
  [[nodiscard]] bool Loaded() const { return loaded_; }
  [[nodiscard]] const SetupApiFunctions& Functions() const { return functions_; }
  [[nodiscard]] HMODULE SetupApiModule() const { return setupApi_; }
  [[nodiscard]] HMODULE ConfigManagerModule() const { return configManager_; }

 private:
  void Unload();

  HMODULE setupApi_ = nullptr;
  HMODULE configManager_ = nullptr;
  SetupApiFunctions functions_;
  bool loaded_ = false;
};

// One pass over the present devices that `pattern` selects, through `api`.
int RunRestartPass(const SetupApiFunctions& api, const std::string& pattern, RestartPass pass);
// One pass with the libraries of `folder`: kRestartPassUnavailable when they cannot be had.
int RunRestartPassFrom(const std::wstring& folder, const std::string& pattern, RestartPass pass);

}  // namespace Pellux
