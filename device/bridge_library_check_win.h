#pragma once

#include <string>
#include <vector>

namespace Pellux {

// What the service tells an administrator at its start about the bridge libraries it loads from
// its own folder (DSI_SiUSBXp_3_1.DLL, DSI_CP210xManufacturing_3_1.dll, libusb0.dll): one line
// for each that cannot be had, naming the file, the folder it was looked for in, the system's
// reason (the call, its code and its text) and the devices that stay absent without it, as in
//
//   "Bridge library libusb0.dll is not in C:\Program Files (x86)\Pellux\ (GetFileAttributesW(...)
//    failed: error 2 (...) [0x00000002]): base stations on the libusb-win32 driver are not found"
//
// Each library is loaded as the loaders load it (by full path) and let go again; one that loads
// but lacks a function of its table is reported too. Nothing for a library that can be had.
std::vector<std::string> MissingBridgeLibraries();

}  // namespace Pellux
