#pragma once

#include <array>

namespace Pellux {

// The bridge libraries the Windows service loads from its own folder, one for each family of
// base stations, and what stays absent without it. The service's start-up report and
// `pelluxctl doctor` name them alike. Plain data.
struct BridgeFamily {
  const char* file;
  const char* absent;
};

inline constexpr std::array<BridgeFamily, 3> kBridgeFamilies = {{
    {"DSI_SiUSBXp_3_1.DLL", "base stations on the USBXpress bridge driver are not found"},
    {"DSI_CP210xManufacturing_3_1.dll", "the bridge's base stations are neither probed nor reset"},
    {"libusb0.dll", "base stations on the libusb-win32 driver are not found"},
}};

}  // namespace Pellux
