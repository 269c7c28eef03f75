#include "service/device_names_win.h"

#include <windows.h>
// The device installation functions, after windows.h.
#include <setupapi.h>

namespace Pellux {
namespace {

// A text property of the device; nullopt when it has none.
std::optional<std::string> TextProperty(HDEVINFO devices, SP_DEVINFO_DATA& device, DWORD property) {
  char text[1024] = {};
  DWORD type = 0;
  if (SetupDiGetDeviceRegistryPropertyA(devices, &device, property, &type,
                                        reinterpret_cast<BYTE*>(text), sizeof text - 1,
                                        nullptr) == 0) {
    return std::nullopt;
  }
  return std::string(text);
}

}  // namespace

std::optional<std::string> SetupApiDeviceName(const std::string& enumerator,
                                              const std::string& instanceId, bool arrival) {
  const DWORD flags = arrival ? (DIGCF_PRESENT | DIGCF_ALLCLASSES) : DIGCF_ALLCLASSES;
  HDEVINFO devices = SetupDiGetClassDevsA(nullptr, enumerator.c_str(), nullptr, flags);
  if (devices == INVALID_HANDLE_VALUE) return std::nullopt;
  std::optional<std::string> name;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device) != 0; ++index) {
    char id[260] = {};
    if (SetupDiGetDeviceInstanceIdA(devices, &device, id, sizeof id, nullptr) == 0) continue;
    if (instanceId != id) continue;
    name = TextProperty(devices, device, SPDRP_FRIENDLYNAME);
    if (!name) name = TextProperty(devices, device, SPDRP_DEVICEDESC);
    if (!name) name = "(unknown)";
    break;
  }
  SetupDiDestroyDeviceInfoList(devices);
  return name;
}

}  // namespace Pellux
