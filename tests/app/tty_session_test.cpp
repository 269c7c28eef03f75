// Whole background sessions through the real Linux stack: the uploader (engine, radio side,
// framer) on LinuxBaseStationDevices, whose DSISerialTTY opens the pseudo-terminal of
// pellux-sim, a separate process running the virtual base station and tracker in real time; the
// server is the reference server over loopback HTTP.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/stored_station_settings.h"
#include "app/uploader.h"
#include "demo/demo_scenario.h"
#include "demo/demo_user_interface.h"
#include "link/linux_base_station_devices.h"
#include "server/base64.h"
#include "sim/memory_settings_store.h"
#include "sim/reference_server.h"
#include "sim/sim_options.h"
#include "tests/support/collected_lines.h"
#include "tests/support/locked_text.h"
#include "tests/support/sim_process.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// A form-encoded text with its %XX escapes undone.
std::string FormDecoded(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      plain.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      plain.push_back(text[i]);
    }
  }
  return plain;
}

class TtySessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store.WriteText("Tracker", "ServerHost", ReferenceServer::kLoopback);
    store.WriteNumber("Tracker", "ServerPort", server.Port());
    store.WriteText("Tracker", "ErrorHost", ReferenceServer::kLoopback);
    store.WriteNumber("Tracker", "ErrorPort", server.Port());
  }
  void TearDown() override {
    if (uploader) uploader->Stop();
    uploader.reset();
    server.Stop();
  }

  // Starts pellux-sim with the demo's tracker answers and `more` arguments, and points
  // "SerialPort" at its terminal.
  std::unique_ptr<SimProcess> StartSim(const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments{PELLUX_SIM_PATH, "--answer", "2201=download:2048:11",
                                       "--answer", "2202=upload:512:1000"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    auto sim = std::make_unique<SimProcess>(arguments);
    EXPECT_TRUE(sim->Started());
    const std::optional<std::string> path = sim->ReadLine(10s);
    EXPECT_TRUE(path.has_value());
    if (path) store.WriteText("Tracker", StoredStationSettings::kSerialPortSetting, *path);
    return sim;
  }

  void StartUploader() {
    uploader = std::make_unique<Uploader>(Uploader::Pieces{
        .settings = store,
        .devices = devices,
        .clock = SystemClock::Instance(),
        .makeUserInterface =
            [this](SettingsStore& settings, NetworkWorkerPool& pool) {
              auto made =
                  std::make_unique<DemoUserInterface>(settings, pool, out, logs.path + "/logs");
              ui = made.get();
              return made;
            },
        .httpLog = {},
        .httpLimits = {},
        .radioTiming = {},
        .identifiers = nullptr});
  }

  bool WaitForSessions(std::size_t count, std::chrono::milliseconds timeout) {
    return ui->WaitFor(
        [count](const DemoUserInterface::Counts& counts) { return counts.sessionsDone >= count; },
        timeout);
  }

  [[nodiscard]] std::string Output() { return text.Text(); }

  // The activity log's folder of the demo's user interface.
  struct Folder {
    Folder() {
      char pattern[] = "/tmp/pellux-tty-XXXXXX";
      path = mkdtemp(pattern);
    }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string path;
  } logs;
  ReferenceServer server;
  MemorySettingsStore store;
  CollectedLines deviceLines;
  StoredStationSettings stationSettings{store};
  LinuxBaseStationDevices devices{stationSettings, deviceLines.Sink()};
  LockedText text;
  std::ostream out{&text};
  DemoUserInterface* ui = nullptr;
  std::unique_ptr<Uploader> uploader;
};

TEST_F(TtySessionTest, ABackgroundSessionRunsThroughTheTtyToPelluxSim) {
  auto sim = StartSim();
  const std::string path = store.ReadText("Tracker", "SerialPort").value_or("");
  ASSERT_FALSE(path.empty());
  server.ScriptDocuments(DemoScenario::Default().DocumentsFor("127.0.0.1", server.Port()));
  StartUploader();
  // No hotplug event: with "SerialPort" set, "init" alone finds and opens the station.
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  ASSERT_TRUE(WaitForSessions(1, 90s)) << Output() << deviceLines.Joined();

  EXPECT_TRUE(deviceLines.Has({"Opened serial port " + path, "at 50000 baud"}))
      << deviceLines.Joined();
  EXPECT_NE(Output().find("Initialized communication [VID: 0x10c4, PID: 0x84c4"),
            std::string::npos);
  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_GE(requests.size(), 3u);
  // The tracker's 2048 bytes of activity, read over the air through the tty, reached the
  // server.
  const std::string activity = Base64Encode(SimDownloadBytes(2048, 11));
  bool carried = false;
  for (const RecordedRequest& request : requests) {
    carried = carried || FormDecoded(request.body).find(activity) != std::string::npos;
  }
  EXPECT_TRUE(carried) << requests[1].body;
  uploader->Stop();
  EXPECT_EQ(sim->Stop(), 0);
}

TEST_F(TtySessionTest, LostAcknowledgementsAreRetriedThroughTheTty) {
  // Units lost on the air, and units whose acknowledgement is lost (the tracker got them):
  // the radio side retries each, and the session goes on.
  auto sim = StartSim({"--fault", "lose:to-tracker:2", "--fault", "duplicate:to-tracker:2"});
  server.ScriptDocuments(DemoScenario::Default().DocumentsFor("127.0.0.1", server.Port()));
  StartUploader();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  ASSERT_TRUE(WaitForSessions(1, 90s)) << Output() << deviceLines.Joined();
  EXPECT_GE(server.Requests().size(), 3u);
  EXPECT_NE(Output().find("Retrying..."), std::string::npos) << Output();
  EXPECT_EQ(sim->Stop(), 0);
}

TEST_F(TtySessionTest, AnUnpluggedStationIsLetGoAndAnotherIsTakenOnItsArrival) {
  // The plug goes while the tracker is being searched for.
  auto sim = StartSim({"--unplug-after", "1500", "--fault", "out-of-range"});
  StartUploader();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  ASSERT_TRUE(deviceLines.WaitFor({"device is gone"}, 10s)) << deviceLines.Joined();
  // The transport keeps saying so, once a poll, until it is closed.
  ASSERT_TRUE(deviceLines.WaitFor({"still gone (report 2)"}, 5s)) << deviceLines.Joined();
  // The removal, as the daemon reports what its hotplug monitor saw: the engine lets the dead
  // port go.
  uploader->Engine().ProcessAction(0, "basestationdisconnect", "", false, kNoContext);
  ASSERT_TRUE(deviceLines.WaitFor({"Closed serial port"}, 10s)) << deviceLines.Joined();

  // A station is plugged in again: a new terminal, and its arrival.
  auto again = StartSim();
  server.ScriptDocuments(DemoScenario::Default().DocumentsFor("127.0.0.1", server.Port()));
  uploader->Engine().ProcessAction(0, "basestationconnect", "", false, kNoContext);
  ASSERT_TRUE(WaitForSessions(1, 90s)) << Output() << deviceLines.Joined();
  EXPECT_GE(server.Requests().size(), 3u);
}

}  // namespace
}  // namespace Pellux
