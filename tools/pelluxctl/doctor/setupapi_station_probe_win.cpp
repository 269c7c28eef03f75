// The station probe of Windows: the device manager's present USB devices, through SetupAPI.

#include <windows.h>
// after windows.h
#include <setupapi.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "base/system_error.h"
#include "base/wide_text_win.h"
#include "tools/pelluxctl/doctor/station_probe.h"

namespace Pellux {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

class SetupApiStationProbe final : public StationProbe {
 public:
  StationListing Ports(std::uint16_t vendorId, std::uint16_t productId) override {
    StationListing listing;
    const HDEVINFO devices =
        SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
      listing.error = SystemCallFailure("SetupDiGetClassDevsW", "USB", GetLastError());
      return listing;
    }
    listing.listed = true;
    std::array<char, 32> wanted{};
    std::snprintf(wanted.data(), wanted.size(), "USB\\VID_%04X&PID_%04X", vendorId, productId);
    const std::string prefix = wanted.data();
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device) != 0; ++index) {
      std::array<wchar_t, 512> id{};
      if (SetupDiGetDeviceInstanceIdW(devices, &device, id.data(), static_cast<DWORD>(id.size()),
                                      nullptr) == 0) {
        continue;
      }
      const std::string instance = Utf8FromWide(id.data());
      const std::string upper = Upper(instance);
      // "USB\VID_0FCF&PID_1008\<serial>" or "...&MI_00\...": the device and its interfaces.
      if (upper.compare(0, prefix.size(), prefix) != 0 ||
          (upper.size() > prefix.size() && upper[prefix.size()] != '\\' &&
           upper[prefix.size()] != '&')) {
        continue;
      }
      std::array<wchar_t, 256> service{};
      const BOOL hasService = SetupDiGetDeviceRegistryPropertyW(
          devices, &device, SPDRP_SERVICE, nullptr, reinterpret_cast<BYTE*>(service.data()),
          static_cast<DWORD>(service.size() * sizeof(wchar_t)), nullptr);
      listing.interfaces.push_back({instance, hasService != 0 ? Utf8FromWide(service.data()) : ""});
    }
    const DWORD code = GetLastError();
    SetupDiDestroyDeviceInfoList(devices);
    if (code != ERROR_NO_MORE_ITEMS) {
      listing.listed = false;
      listing.error = SystemCallFailure("SetupDiEnumDeviceInfo", "USB", code);
    }
    return listing;
  }
};

}  // namespace

std::unique_ptr<StationProbe> StationProbe::CreateForPlatform() {
  return std::make_unique<SetupApiStationProbe>();
}

}  // namespace Pellux
