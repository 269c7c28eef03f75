// The real uplinker.exe as the "Pellux" service under Wine's service manager, in a folder of
// this test's own with the stand-in bridge libraries beside it (built for tests, never
// installed), configured through their file: installed and started, it finds the virtual base
// station through the bridge library at its start, links the tracker, posts to the reference
// server over WinInet, writes its activity log under ProgramData, answers pelluxctl.exe's
// status over its real pipe, and stops cleanly. Wine has no USB devices to announce, so no
// device arrival reaches the service here (px_service_events_tests hands it its events).

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>

#include "sim/reference_server.h"
#include "tests/service/program_runner_win.h"
#include "tests/service/service_under_test_win.h"
#include "tests/support/pelluxctl_status.h"
#include "ui/settings/registry_settings_store_win.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// The folder the build fills with uplinker.exe, pelluxctl.exe, the error page and the stand-ins.
std::string ServiceFolder() {
  return ProgramBeside("uplinker_service");
}

Ran Uplinker(const std::string& switchText) {
  return RunProgramAt(ServiceFolder() + "\\uplinker.exe", switchText);
}

void WriteStandInConfig(const nlohmann::json& config) {
  std::ofstream(ServiceFolder() + "\\PelluxStandIn.json", std::ios::binary | std::ios::trunc)
      << config.dump();
}

TEST(UplinkerServiceTest, TheRealProgramUploadsThroughTheBridgeLibraryAnswersAndStopsCleanly) {
  ReferenceServer server;
  ScriptOneUpload(server);
  // One base station on the bridge library, with its tracker; no libusb device.
  WriteStandInConfig(
      {{"DSI_SiUSBXp_3_1.DLL",
        {{{"command", "attach"}, {"serial", "7703155"}, {"stationSerial", 7703155}}}},
       {"libusb0.dll", {{{"command", "bus"}, {"busses", nlohmann::json::array()}}}}});
  // A value there but unusable: the service has no error stream, so the store's report is in the
  // activity log, and the value is left as it is (the default is in use).
  constexpr const char* kTracker = "Software\\Pellux\\Tracker";
  const std::string unusable("15 s", 5);
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTracker, "SleepPeriod", REG_SZ, unusable.data(),
                            static_cast<DWORD>(unusable.size())),
            ERROR_SUCCESS);
  const auto logsBefore = ActivityLogFiles();

  ASSERT_EQ(Uplinker("/I").err, "");
  const Ran started = Uplinker("/S");
  ASSERT_EQ(started.err, "The Pellux Data Uploader service has started.\n");

  // The tracker is linked and its session posted, and the server's close was acted on.
  EXPECT_TRUE(Eventually([&] { return server.Requests().size() >= 2; }))
      << server.Requests().size() << " request(s)\n"
      << ActivityLogsSince(logsBefore);

  // pelluxctl.exe over the service's real pipe.
  const Ran status = RunProgramAt(ServiceFolder() + "\\pelluxctl.exe", "status");
  EXPECT_EQ(status.exitCode, 0u) << status.err;
  EXPECT_TRUE(StatusSaysStationOpen(status.out)) << status.out << status.err;

  EXPECT_EQ(Uplinker("/P").err, "");
  EXPECT_TRUE(Eventually([&] {
    return ActivityLogsSince(logsBefore).find("<<< APPLICATION TERMINATED >>>") !=
           std::string::npos;
  })) << ActivityLogsSince(logsBefore);
  const std::string log = ActivityLogsSince(logsBefore);
  EXPECT_NE(log.find("Starting session in standard mode..."), std::string::npos) << log;
  // The base station of the configuration file, opened through the bridge library.
  EXPECT_NE(log.find("Initialized communication [VID: 0x10c4, PID: 0x84c4, SERIAL: 7703155]."),
            std::string::npos)
      << log;
  // Its tracker linked, then the upload and the server's words.
  EXPECT_LT(log.find("SERIAL: 7703155]."), log.find("LINKED! [standard beacon]")) << log;
  EXPECT_NE(log.find("LINKED! [standard beacon]"), std::string::npos) << log;
  EXPECT_LT(log.find("LINKED! [standard beacon]"), log.find("Upload complete.")) << log;
  EXPECT_NE(log.find("SERVICE STOP EVENT"), std::string::npos) << log;
  EXPECT_LT(log.find("SERVICE STOP EVENT"), log.find("<<< APPLICATION TERMINATED >>>"));
  EXPECT_NE(log.find("\\Tracker\\SleepPeriod is REG_SZ of 5 bytes, not a REG_DWORD: it reads as "
                     "unset"),
            std::string::npos)
      << log;
  char stored[16] = {};
  DWORD size = sizeof stored;
  DWORD type = REG_NONE;
  EXPECT_EQ(
      RegGetValueA(HKEY_LOCAL_MACHINE, kTracker, "SleepPeriod", RRF_RT_ANY, &type, stored, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::string(stored), "15 s");
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kTracker, "SleepPeriod");
  EXPECT_EQ(Uplinker("/U").err, "");

  const auto upload = server.Requests();
  ASSERT_FALSE(upload.empty());
  EXPECT_EQ(upload.front().method, "POST");
  EXPECT_FALSE(upload.front().body.empty());
  server.Stop();
}

}  // namespace
}  // namespace Pellux
