#pragma once

// Test-only: a stand-in library loaded into a process that a test cannot call into (a service
// the service manager starts) is configured from "PelluxStandIn.json" beside the library. The
// file is a JSON object; the member named after the library's file name (any case) is an array
// of the requests its control export takes (stand_in_control.h), run in order:
//
//   {"DSI_SiUSBXp_3_1.DLL": [{"command": "attach", "serial": "4021337"}]}
//
// A library reads the file once, on its first call: never from DllMain, where opening a file
// may load other libraries. The stand-ins and this file are test material, never installed.

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace Pellux::StandIn {

inline constexpr const char* kConfigFileName = "PelluxStandIn.json";
// A larger file is refused unread.
inline constexpr unsigned long kConfigFileLimit = 1024 * 1024;

// One library's part of the configuration file, and what was wrong with the file.
struct ConfigFile {
  std::string path;
  bool found = false;
  std::vector<nlohmann::json> requests;
  std::vector<std::string> problems;
};

// Reads the configuration file beside the library whose code holds `addressInLibrary` and takes
// that library's requests. A missing file, or no member for the library, gives no request and
// no problem.
ConfigFile ReadConfigFile(const void* addressInLibrary);

// Runs each request through `run` (the library's control, on its lock) and returns the report
// its "state" command gives: {"file", "found", "applied", "problems"}. A request that is not an
// object, throws or answers "ok": false is a problem, and the next ones still run.
nlohmann::json ApplyConfigFile(const ConfigFile& file,
                               const std::function<nlohmann::json(const nlohmann::json&)>& run);

}  // namespace Pellux::StandIn
