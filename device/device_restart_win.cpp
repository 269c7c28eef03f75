#include "device/device_restart_win.h"

#include <array>
#include <string_view>
#include <vector>

#include "device/library_path_win.h"
#include "device/usb_text_rules.h"

namespace Pellux {
namespace {

// CM_Get_Device_ID_ExA reads up to 200 characters of an instance id.
constexpr std::size_t kInstanceIdLength = 200;
// Class GUIDs taken for one setup class name.
constexpr DWORD kMaxClassGuids = 16;

// The texts of a REG_MULTI_SZ property (hardware or compatible ids); none when it is unset.
std::vector<std::string> MultiTextProperty(const SetupApiFunctions& api, HDEVINFO devices,
                                           SP_DEVINFO_DATA& info, DWORD property) {
  std::vector<BYTE> buffer(1024);
  DWORD needed = 0;
  while (!api.getDeviceRegistryProperty(devices, &info, property, nullptr, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &needed)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return {};
    buffer.resize(needed + 2);
  }
  buffer.push_back(0);
  buffer.push_back(0);
  std::vector<std::string> texts;
  const char* at = reinterpret_cast<const char*>(buffer.data());
  const char* const end = at + buffer.size();
  while (at < end && *at != '\0') {
    const std::string_view text(at);
    texts.emplace_back(text);
    at += text.size() + 1;
  }
  return texts;
}

// The present devices the pattern may select: a set the caller destroys, or
// INVALID_HANDLE_VALUE.
HDEVINFO ListDevices(const SetupApiFunctions& api, const DevicePattern& pattern) {
  if (pattern.kind == DevicePattern::Kind::kSetupClass) {
    std::array<GUID, kMaxClassGuids> guids{};
    DWORD count = 0;
    if (!api.classGuidsFromNameEx(pattern.text.c_str(), guids.data(), kMaxClassGuids, &count,
                                  nullptr, nullptr)) {
      count = 0;
    }
    HDEVINFO devices = api.createDeviceInfoListEx(nullptr, nullptr, nullptr, nullptr);
    if (devices == INVALID_HANDLE_VALUE) return devices;
    for (DWORD i = 0; i < count && i < kMaxClassGuids; ++i) {
      // Adds the class's present devices to the same set.
      api.getClassDevsEx(&guids[i], nullptr, nullptr, DIGCF_PRESENT, devices, nullptr, nullptr);
    }
    return devices;
  }
  if (pattern.kind == DevicePattern::Kind::kInstanceId &&
      pattern.text.find('*') == std::string::npos) {
    // One instance id, opened directly.
    HDEVINFO devices = api.createDeviceInfoListEx(nullptr, nullptr, nullptr, nullptr);
    if (devices == INVALID_HANDLE_VALUE) return devices;
    api.openDeviceInfo(devices, pattern.text.c_str(), nullptr, 0, nullptr);
    return devices;
  }
  return api.getClassDevsEx(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT, nullptr,
                            nullptr, nullptr);
}

// Changes one device's state; true when the class installer did it.
bool ChangeState(const SetupApiFunctions& api, HDEVINFO devices, SP_DEVINFO_DATA& info,
                 DWORD stateChange, DWORD scope) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = stateChange;
  params.Scope = scope;
  params.HwProfile = 0;
  return api.setClassInstallParams(devices, &info, &params.ClassInstallHeader, sizeof(params)) &&
         api.callClassInstaller(DIF_PROPERTYCHANGE, devices, &info);
}

bool NeedsReboot(const SetupApiFunctions& api, HDEVINFO devices, SP_DEVINFO_DATA& info) {
  SP_DEVINSTALL_PARAMS_A install{};
  install.cbSize = sizeof(install);
  return api.getDeviceInstallParams(devices, &info, &install) &&
         (install.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
}

}  // namespace

SetupApiLibraries::SetupApiLibraries(const std::wstring& folder) {
  if (folder.empty()) return;
  setupApi_ = LoadLibraryByFullPath(folder + L"setupapi.dll");
  configManager_ = LoadLibraryByFullPath(folder + L"cfgmgr32.dll");
  if (setupApi_ == nullptr || configManager_ == nullptr) {
    Unload();
    return;
  }
  SetupApiFunctions& f = functions_;
  loaded_ =
      BindExport(setupApi_, "SetupDiCallClassInstaller", f.callClassInstaller) &&
      BindExport(setupApi_, "SetupDiEnumDeviceInfo", f.enumDeviceInfo) &&
      BindExport(setupApi_, "SetupDiDestroyDeviceInfoList", f.destroyDeviceInfoList) &&
      BindExport(setupApi_, "SetupDiSetClassInstallParamsA", f.setClassInstallParams) &&
      BindExport(setupApi_, "SetupDiGetDeviceInstallParamsA", f.getDeviceInstallParams) &&
      BindExport(setupApi_, "SetupDiGetDeviceRegistryPropertyA", f.getDeviceRegistryProperty) &&
      BindExport(setupApi_, "SetupDiClassGuidsFromNameExA", f.classGuidsFromNameEx) &&
      BindExport(setupApi_, "SetupDiGetClassDevsExA", f.getClassDevsEx) &&
      BindExport(setupApi_, "SetupDiCreateDeviceInfoListExA", f.createDeviceInfoListEx) &&
      BindExport(setupApi_, "SetupDiOpenDeviceInfoA", f.openDeviceInfo) &&
      BindExport(setupApi_, "SetupDiGetDeviceInfoListDetailA", f.getDeviceInfoListDetail) &&
      BindExport(configManager_, "CM_Get_Device_ID_ExA", f.getDeviceIdEx);
  if (!loaded_) Unload();
}

SetupApiLibraries::~SetupApiLibraries() {
  Unload();
}

void SetupApiLibraries::Unload() {
  if (setupApi_ != nullptr) FreeLibrary(setupApi_);
  if (configManager_ != nullptr) FreeLibrary(configManager_);
  setupApi_ = nullptr;
  configManager_ = nullptr;
  functions_ = {};
  loaded_ = false;
}

int RunRestartPass(const SetupApiFunctions& api, const std::string& pattern, RestartPass pass) {
  const DevicePattern parsed = ParseDevicePattern(pattern);
  HDEVINFO devices = ListDevices(api, parsed);
  if (devices == INVALID_HANDLE_VALUE) return kRestartPassDone;

  SP_DEVINFO_LIST_DETAIL_DATA_A detail{};
  detail.cbSize = sizeof(detail);
  HANDLE machine = nullptr;
  if (api.getDeviceInfoListDetail(devices, &detail)) machine = detail.RemoteMachineHandle;

  int changed = 0;
  bool reboot = false;
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof(info);
  for (DWORD index = 0; api.enumDeviceInfo(devices, index, &info); ++index) {
    std::array<char, kInstanceIdLength + 1> id{};
    if (api.getDeviceIdEx(info.DevInst, id.data(), static_cast<ULONG>(kInstanceIdLength), 0,
                          machine) != CR_SUCCESS) {
      id[0] = '\0';
    }
    std::vector<std::string> ids;
    if (parsed.kind == DevicePattern::Kind::kHardwareId) {
      ids = MultiTextProperty(api, devices, info, SPDRP_HARDWAREID);
      const std::vector<std::string> compatible =
          MultiTextProperty(api, devices, info, SPDRP_COMPATIBLEIDS);
      ids.insert(ids.end(), compatible.begin(), compatible.end());
    }
    if (!DevicePatternMatches(parsed, id.data(), ids)) continue;

    bool done = false;
    if (pass == RestartPass::kDisable) {
      done = ChangeState(api, devices, info, DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC);
    } else {
      // Enabled globally first (it may not have been disabled there; the result does not
      // matter), then in this hardware profile.
      ChangeState(api, devices, info, DICS_ENABLE, DICS_FLAG_GLOBAL);
      done = ChangeState(api, devices, info, DICS_ENABLE, DICS_FLAG_CONFIGSPECIFIC);
    }
    if (done) {
      ++changed;
      if (NeedsReboot(api, devices, info)) reboot = true;
    }
  }
  api.destroyDeviceInfoList(devices);
  return changed > 0 && reboot ? kRestartPassNeedsReboot : kRestartPassDone;
}

int RunRestartPassFrom(const std::wstring& folder, const std::string& pattern, RestartPass pass) {
  const SetupApiLibraries libraries(folder);
  if (!libraries.Loaded()) return kRestartPassUnavailable;
  return RunRestartPass(libraries.Functions(), pattern, pass);
}

DeviceRestartResult RestartDevicesMatching(const std::string& pattern) {
  DeviceRestartResult result;
  result.disable = RunRestartPassFrom(SystemFolder(), pattern, RestartPass::kDisable);
  result.enable = RunRestartPassFrom(SystemFolder(), pattern, RestartPass::kEnable);
  return result;
}

DeviceRestartResult RestartUsbDevices(std::uint16_t vendorId, std::uint16_t productId) {
  return RestartDevicesMatching(UsbInstancePattern(vendorId, productId));
}

}  // namespace Pellux
