// The device restart: the system libraries loaded from the system folder, the
// pattern rules and both passes over a scripted device installer, and the real SetupAPI of
// Wine (which has no USB devices to restart).

#include "device/device_restart_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "device/library_path_win.h"

namespace Pellux {
namespace {

// A device installer with a few devices, as the SetupAPI functions of a pass see it.
namespace Fake {

struct Device {
  std::string instanceId;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
  bool needsReboot = false;
  bool refuses = false;
};

struct Change {
  std::string instanceId;
  DWORD stateChange;
  DWORD scope;
};

std::vector<Device> devices;
std::vector<Change> changes;
std::vector<std::string> classNames;
std::vector<std::string> opened;
int listsMade = 0;
int listsDestroyed = 0;
// The parameters set for the next class-installer call.
SP_PROPCHANGE_PARAMS pending{};
const auto kSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));
const GUID kPortsGuid{0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

void Reset(std::vector<Device> present) {
  devices = std::move(present);
  changes.clear();
  classNames.clear();
  opened.clear();
  listsMade = 0;
  listsDestroyed = 0;
}

const Device* Of(const SP_DEVINFO_DATA* info) {
  return info != nullptr && info->DevInst >= 1 && info->DevInst <= devices.size()
             ? &devices[info->DevInst - 1]
             : nullptr;
}

BOOL WINAPI CallClassInstaller(DI_FUNCTION function, HDEVINFO /*set*/, PSP_DEVINFO_DATA info) {
  const Device* device = Of(info);
  if (function != DIF_PROPERTYCHANGE || device == nullptr || device->refuses) return FALSE;
  changes.push_back({device->instanceId, pending.StateChange, pending.Scope});
  return TRUE;
}

BOOL WINAPI EnumDeviceInfo(HDEVINFO /*set*/, DWORD index, PSP_DEVINFO_DATA info) {
  if (index >= devices.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  info->DevInst = index + 1;
  return TRUE;
}

BOOL WINAPI DestroyDeviceInfoList(HDEVINFO /*set*/) {
  ++listsDestroyed;
  return TRUE;
}

BOOL WINAPI SetClassInstallParams(HDEVINFO /*set*/, PSP_DEVINFO_DATA /*info*/,
                                  PSP_CLASSINSTALL_HEADER header, DWORD size) {
  if (size != sizeof(SP_PROPCHANGE_PARAMS) || header->cbSize != sizeof(SP_CLASSINSTALL_HEADER) ||
      header->InstallFunction != DIF_PROPERTYCHANGE) {
    return FALSE;
  }
  std::memcpy(&pending, header, sizeof(pending));
  return TRUE;
}

BOOL WINAPI GetDeviceInstallParams(HDEVINFO /*set*/, PSP_DEVINFO_DATA info,
                                   PSP_DEVINSTALL_PARAMS_A params) {
  const Device* device = Of(info);
  if (device == nullptr || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_A)) return FALSE;
  params->Flags = device->needsReboot ? DI_NEEDREBOOT : 0;
  return TRUE;
}

BOOL WINAPI GetDeviceRegistryProperty(HDEVINFO /*set*/, PSP_DEVINFO_DATA info, DWORD property,
                                      PDWORD /*type*/, PBYTE buffer, DWORD size, PDWORD needed) {
  const Device* device = Of(info);
  if (device == nullptr) return FALSE;
  const std::vector<std::string>& ids =
      property == SPDRP_HARDWAREID ? device->hardwareIds : device->compatibleIds;
  if (ids.empty()) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  std::string multi;
  for (const std::string& id : ids) multi += id + '\0';
  multi += '\0';
  if (needed != nullptr) *needed = static_cast<DWORD>(multi.size());
  if (multi.size() > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, multi.data(), multi.size());
  return TRUE;
}

BOOL WINAPI ClassGuidsFromNameEx(PCSTR name, LPGUID guids, DWORD size, PDWORD count,
                                 PCSTR /*machine*/, PVOID /*reserved*/) {
  classNames.emplace_back(name);
  if (std::string(name) != "Ports" || size < 1) {
    *count = 0;
    return FALSE;
  }
  guids[0] = kPortsGuid;
  *count = 1;
  return TRUE;
}

HDEVINFO WINAPI GetClassDevsEx(const GUID* guid, PCSTR /*enumerator*/, HWND /*parent*/, DWORD flags,
                               HDEVINFO existing, PCSTR /*machine*/, PVOID /*reserved*/) {
  if ((flags & DIGCF_PRESENT) == 0) return INVALID_HANDLE_VALUE;
  if (guid == nullptr && (flags & DIGCF_ALLCLASSES) == 0) return INVALID_HANDLE_VALUE;
  if (guid != nullptr && !IsEqualGUID(*guid, kPortsGuid)) return INVALID_HANDLE_VALUE;
  if (existing == nullptr) ++listsMade;
  return kSet;
}

HDEVINFO WINAPI CreateDeviceInfoListEx(const GUID* /*guid*/, HWND /*parent*/, PCSTR /*machine*/,
                                       PVOID /*reserved*/) {
  ++listsMade;
  return kSet;
}

BOOL WINAPI OpenDeviceInfo(HDEVINFO /*set*/, PCSTR instanceId, HWND /*parent*/, DWORD /*flags*/,
                           PSP_DEVINFO_DATA /*info*/) {
  opened.emplace_back(instanceId);
  return TRUE;
}

BOOL WINAPI GetDeviceInfoListDetail(HDEVINFO /*set*/, PSP_DEVINFO_LIST_DETAIL_DATA_A detail) {
  detail->RemoteMachineHandle = nullptr;
  return TRUE;
}

CONFIGRET WINAPI GetDeviceIdEx(DEVINST instance, PSTR buffer, ULONG size, ULONG /*flags*/,
                               HMACHINE /*machine*/) {
  if (instance < 1 || instance > devices.size()) return CR_NO_SUCH_DEVINST;
  const std::string& id = devices[instance - 1].instanceId;
  if (id.size() >= size) return CR_BUFFER_SMALL;
  std::memcpy(buffer, id.c_str(), id.size() + 1);
  return CR_SUCCESS;
}

SetupApiFunctions Functions() {
  SetupApiFunctions api;
  api.callClassInstaller = CallClassInstaller;
  api.enumDeviceInfo = EnumDeviceInfo;
  api.destroyDeviceInfoList = DestroyDeviceInfoList;
  api.setClassInstallParams = SetClassInstallParams;
  api.getDeviceInstallParams = GetDeviceInstallParams;
  api.getDeviceRegistryProperty = GetDeviceRegistryProperty;
  api.classGuidsFromNameEx = ClassGuidsFromNameEx;
  api.getClassDevsEx = GetClassDevsEx;
  api.createDeviceInfoListEx = CreateDeviceInfoListEx;
  api.openDeviceInfo = OpenDeviceInfo;
  api.getDeviceInfoListDetail = GetDeviceInfoListDetail;
  api.getDeviceIdEx = GetDeviceIdEx;
  return api;
}

}  // namespace Fake

class DeviceRestartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake::Reset({
        {"USB\\VID_0FCF&PID_1004\\123", {"USB\\VID_0FCF&PID_1004&REV_0100"}, {"USB\\Class_FF"}},
        {"usb\\vid_0fcf&pid_1004\\5&2a", {"USB\\VID_0FCF&PID_1004&REV_0200"}, {}},
        {"USB\\VID_10C4&PID_84C4\\0001", {"USB\\VID_10C4&PID_84C4&REV_0100"}, {"USB\\Class_FF"}},
        {"ROOT\\PORTS\\0000", {"root\\ports"}, {}},
    });
  }

  static std::vector<std::string> Changed(DWORD stateChange, DWORD scope) {
    std::vector<std::string> ids;
    for (const Fake::Change& change : Fake::changes) {
      if (change.stateChange == stateChange && change.scope == scope) {
        ids.push_back(change.instanceId);
      }
    }
    return ids;
  }

  const SetupApiFunctions api = Fake::Functions();
};

TEST_F(DeviceRestartTest, TheDisablePassDisablesTheMatchingInstancesInThisProfile) {
  EXPECT_EQ(RunRestartPass(api, "@USB\\VID_0FCF&PID_1004\\*", RestartPass::kDisable),
            kRestartPassDone);
  EXPECT_EQ(
      Changed(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC),
      (std::vector<std::string>{"USB\\VID_0FCF&PID_1004\\123", "usb\\vid_0fcf&pid_1004\\5&2a"}));
  EXPECT_EQ(Fake::changes.size(), 2U);
  EXPECT_EQ(Fake::listsMade, Fake::listsDestroyed);
}

TEST_F(DeviceRestartTest, TheEnablePassEnablesGloballyThenInThisProfile) {
  EXPECT_EQ(RunRestartPass(api, "@USB\\VID_10C4&PID_84C4\\*", RestartPass::kEnable),
            kRestartPassDone);
  ASSERT_EQ(Fake::changes.size(), 2U);
  EXPECT_EQ(Fake::changes[0].stateChange, static_cast<DWORD>(DICS_ENABLE));
  EXPECT_EQ(Fake::changes[0].scope, static_cast<DWORD>(DICS_FLAG_GLOBAL));
  EXPECT_EQ(Fake::changes[1].stateChange, static_cast<DWORD>(DICS_ENABLE));
  EXPECT_EQ(Fake::changes[1].scope, static_cast<DWORD>(DICS_FLAG_CONFIGSPECIFIC));
}

TEST_F(DeviceRestartTest, AChangedDeviceThatNeedsARebootMakesThePassReport1) {
  Fake::devices[1].needsReboot = true;
  EXPECT_EQ(RunRestartPass(api, "@USB\\VID_0FCF&PID_1004\\*", RestartPass::kDisable),
            kRestartPassNeedsReboot);
  // A device that needs a reboot but was not changed does not count.
  Fake::devices[1].refuses = true;
  EXPECT_EQ(RunRestartPass(api, "@USB\\VID_0FCF&PID_1004\\*", RestartPass::kDisable),
            kRestartPassDone);
}

TEST_F(DeviceRestartTest, WithoutAtThePatternMatchesHardwareAndCompatibleIds) {
  RunRestartPass(api, "usb\\vid_10c4*", RestartPass::kDisable);
  EXPECT_EQ(Changed(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC),
            std::vector<std::string>{"USB\\VID_10C4&PID_84C4\\0001"});
  Fake::changes.clear();
  RunRestartPass(api, "USB\\Class_FF", RestartPass::kDisable);
  EXPECT_EQ(
      Changed(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC),
      (std::vector<std::string>{"USB\\VID_0FCF&PID_1004\\123", "USB\\VID_10C4&PID_84C4\\0001"}));
}

TEST_F(DeviceRestartTest, AStarAloneSelectsEveryDevice) {
  RunRestartPass(api, "*", RestartPass::kDisable);
  EXPECT_EQ(Fake::changes.size(), 4U);
}

TEST_F(DeviceRestartTest, AnEqualsSignNamesASetupClass) {
  RunRestartPass(api, "=Ports", RestartPass::kDisable);
  EXPECT_EQ(Fake::classNames, std::vector<std::string>{"Ports"});
  EXPECT_EQ(Fake::changes.size(), 4U);
  Fake::changes.clear();
  RunRestartPass(api, "=NoSuchClass", RestartPass::kDisable);
  EXPECT_EQ(Fake::listsMade, Fake::listsDestroyed);
}

TEST_F(DeviceRestartTest, AnInstanceIdWithoutAStarIsOpenedDirectly) {
  RunRestartPass(api, "@ROOT\\PORTS\\0000", RestartPass::kDisable);
  EXPECT_EQ(Fake::opened, std::vector<std::string>{"ROOT\\PORTS\\0000"});
  EXPECT_EQ(Changed(DICS_DISABLE, DICS_FLAG_CONFIGSPECIFIC),
            std::vector<std::string>{"ROOT\\PORTS\\0000"});
}

TEST(SystemDeviceRestartTest, TheSystemLibrariesComeFromTheSystemFolder) {
  const SetupApiLibraries libraries(SystemFolder());
  ASSERT_TRUE(libraries.Loaded());
  const auto folderOf = [](HMODULE module) {
    return std::filesystem::path(ModulePath(module)).parent_path();
  };
  const std::filesystem::path system = std::filesystem::path(SystemFolder()).parent_path();
  EXPECT_TRUE(std::filesystem::equivalent(folderOf(libraries.SetupApiModule()), system));
  EXPECT_TRUE(std::filesystem::equivalent(folderOf(libraries.ConfigManagerModule()), system));
}

TEST(SystemDeviceRestartTest, LibrariesThatCannotBeHadMakeThePassReport2) {
  const std::filesystem::path empty =
      std::filesystem::temp_directory_path() /
      ("pellux-no-setupapi-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(empty);
  EXPECT_FALSE(SetupApiLibraries(empty.wstring() + L"\\").Loaded());
  EXPECT_EQ(RunRestartPassFrom(empty.wstring() + L"\\", "@USB\\VID_0FCF&PID_1004\\*",
                               RestartPass::kDisable),
            kRestartPassUnavailable);
  EXPECT_EQ(RunRestartPassFrom(L"", "*", RestartPass::kEnable), kRestartPassUnavailable);
  std::filesystem::remove_all(empty);
}

TEST(SystemDeviceRestartTest, RestartingTheStationFamilyUnderWineFindsNothingToDo) {
  const DeviceRestartResult result = RestartUsbDevices(0x0FCF, 0x1004);
  EXPECT_EQ(result.disable, kRestartPassDone);
  EXPECT_EQ(result.enable, kRestartPassDone);
}

}  // namespace
}  // namespace Pellux
