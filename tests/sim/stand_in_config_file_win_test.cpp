// The stand-in libraries' configuration file ("PelluxStandIn.json" beside the library), read on
// the library's first call: each case loads a fresh copy of a stand-in from a folder of its own
// with that case's file, and asks the library what came of it.

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/stand_in/stand_in_control.h"

namespace Pellux::StandIn {
namespace {

std::string TestFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string program(path);
  return program.substr(0, program.find_last_of('\\'));
}

// Copies the stand-in `library` into a folder of the case's own with `file` (none when null)
// as its configuration, loads it, and returns its "state".
nlohmann::json StateAfterLoading(const std::string& caseName, const std::string& library,
                                 const std::string* file) {
  const std::string folder = TestFolder() + "\\config_cases\\" + caseName;
  CreateDirectoryA((TestFolder() + "\\config_cases").c_str(), nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string copy = folder + "\\" + library;
  EXPECT_NE(CopyFileA((TestFolder() + "\\" + library).c_str(), copy.c_str(), FALSE), 0)
      << GetLastError();
  DeleteFileA((folder + "\\PelluxStandIn.json").c_str());
  if (file != nullptr) {
    std::ofstream(folder + "\\PelluxStandIn.json", std::ios::binary) << *file;
  }
  const HMODULE module = LoadLibraryA(copy.c_str());
  if (module == nullptr) {
    ADD_FAILURE() << "LoadLibraryA(" << copy << ") failed: " << GetLastError();
    return {};
  }
  const auto control = reinterpret_cast<ControlFunction>(
      reinterpret_cast<void*>(GetProcAddress(module, kControlExport)));
  if (control == nullptr) {
    ADD_FAILURE() << "no control export in " << copy;
    return {};
  }
  return nlohmann::json::parse(CallControl(control, R"({"command":"state"})"));
}

struct Case {
  const char* name;
  const char* library;
  // The file's text; null: no file.
  const char* file;
  bool found;
  int applied;
  // The beginnings of the problems reported, in order.
  std::vector<std::string> problems;
  // The devices the bridge stand-in has afterwards (-1: not asked, the libusb stand-in).
  int devices;
};

TEST(StandInConfigFile, IsReadOnceAtTheFirstCallAndHostileFilesOnlyGiveProblems) {
  const std::string big = R"({"DSI_SiUSBXp_3_1.DLL": [)" + std::string(1024 * 1024, ' ') + "]}";
  const Case cases[] = {
      {"none", "DSI_SiUSBXp_3_1.DLL", nullptr, false, 0, {}, 0},
      {"attach",
       "DSI_SiUSBXp_3_1.DLL",
       R"({"DSI_SiUSBXp_3_1.DLL": [{"command": "attach", "serial": "A1"},
                                   {"command": "attach"}]})",
       true,
       2,
       {},
       2},
      {"other_case",
       "DSI_SiUSBXp_3_1.DLL",
       R"({"dsi_siusbxp_3_1.dll": [{"command": "attach"}], "libusb0.dll": [{"command": "x"}]})",
       true,
       1,
       {},
       1},
      {"only_others",
       "DSI_SiUSBXp_3_1.DLL",
       R"({"libusb0.dll": [{"command": "attach"}]})",
       true,
       0,
       {},
       0},
      {"empty", "DSI_SiUSBXp_3_1.DLL", "", true, 0, {"Z"}, 0},
      {"broken",
       "DSI_SiUSBXp_3_1.DLL",
       R"({"DSI_SiUSBXp_3_1.DLL": [{"command": "att)",
       true,
       0,
       {"Z"},
       0},
      {"array", "DSI_SiUSBXp_3_1.DLL", R"([{"command": "attach"}])", true, 0, {"Z"}, 0},
      {"not_a_list",
       "DSI_SiUSBXp_3_1.DLL",
       R"({"DSI_SiUSBXp_3_1.DLL": {"command": "attach"}})",
       true,
       0,
       {"Z"},
       0},
      {"mixed",
       "DSI_SiUSBXp_3_1.DLL",
       R"({"DSI_SiUSBXp_3_1.DLL": [5, {"command": "nope"}, {"command": "attach"},
                                   {"command": "unplug", "device": 9},
                                   {"command": "attach", "serial": 17}, "attach", null]})",
       true,
       1,
       {"request 0: not an object", "request 1: unknown command: nope", "request 3: no such device",
        "request 4: ", "request 5: not an object", "request 6: not an object"},
       1},
      {"too_big", "DSI_SiUSBXp_3_1.DLL", big.c_str(), true, 0, {"Z"}, 0},
      {"libusb",
       "libusb0.dll",
       R"({"LIBUSB0.DLL": [{"command": "bus", "busses": [[{"vid": 4292, "pid": 33988}]]},
                           {"command": "lastReply"}]})",
       true,
       1,
       {"request 1: unknown command: lastReply"},
       -1},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.name);
    const std::string text = each.file != nullptr ? each.file : "";
    const nlohmann::json state =
        StateAfterLoading(each.name, each.library, each.file != nullptr ? &text : nullptr);
    ASSERT_TRUE(state.is_object()) << state;
    const nlohmann::json& config = state["config"];
    EXPECT_EQ(config.value("found", !each.found), each.found) << config;
    EXPECT_EQ(config.value("applied", -1), each.applied) << config;
    const std::string path = config.value("file", "");
    EXPECT_EQ(path, TestFolder() + "\\config_cases\\" + each.name + "\\PelluxStandIn.json");
    const auto problems = config.value("problems", std::vector<std::string>{});
    ASSERT_EQ(problems.size(), each.problems.size()) << config;
    for (std::size_t i = 0; i < problems.size(); ++i) {
      // "Z": a problem with the file as a whole, named by its path.
      const std::string expected = each.problems[i] == "Z" ? path : each.problems[i];
      EXPECT_EQ(problems[i].rfind(expected, 0), 0u) << problems[i];
    }
    if (each.devices >= 0) {
      EXPECT_EQ(state["devices"].size(), static_cast<std::size_t>(each.devices)) << state;
    }
  }
}

}  // namespace
}  // namespace Pellux::StandIn
