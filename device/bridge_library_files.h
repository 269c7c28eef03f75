#pragma once

#include <array>

namespace Pellux {

// The bridge libraries the Windows service loads from its own folder, one for each family of
// base stations, by file name: the installer copies these from VENDORDIR and nothing else, the
// service reports a missing one at its start, `pelluxctl doctor` checks each. Plain data.
struct BridgeLibraryFile {
  // The file name, as the service loads it.
  const char* name;
  // What stays absent without it, as a clause: "<absent>".
  const char* absent;
};

inline constexpr std::array<BridgeLibraryFile, 3> kBridgeLibraryFiles = {{
    {"DSI_SiUSBXp_3_1.DLL", "base stations on the USBXpress bridge driver are not found"},
    {"DSI_CP210xManufacturing_3_1.dll", "the bridge's base stations are neither probed nor reset"},
    {"libusb0.dll", "base stations on the libusb-win32 driver are not found"},
}};

}  // namespace Pellux
