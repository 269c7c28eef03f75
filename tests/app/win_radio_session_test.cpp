// The first whole background session through the real Windows radio path: the uploader's
// engine and radio side, the ANT framer, DSISerialSI with the bridge handle's threads, and the
// stand-in DSI_SiUSBXp_3_1.DLL with a virtual base station and tracker running in real time
// inside it. The server is played by the test through the requests the user interface records.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/uploader.h"
#include "device/dsi_serial_si_win.h"
#include "link/win_base_station_devices_win.h"
#include "server/request_body.h"
#include "sim/memory_settings_store.h"
#include "tests/link/session_fixture.h"
#include "tests/support/recording_user_interface.h"
#include "tests/support/stand_in_bridge_win.h"

namespace Pellux {
namespace {

using json = nlohmann::json;
using std::chrono::seconds;

class WinRadioSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bridge.Attach({{"vid", "10C4"}, {"pid", "84C4"}, {"serial", "4021337"}});
  }

  std::unique_ptr<Uploader> Make() {
    return std::make_unique<Uploader>(
        Uploader::Pieces{.settings = store,
                         .devices = devices,
                         .clock = SystemClock::Instance(),
                         .makeUserInterface =
                             [this](SettingsStore& /*settings*/, NetworkWorkerPool& /*pool*/) {
                               auto made = std::make_unique<RecordingUserInterface>();
                               ui = made.get();
                               return made;
                             },
                         .httpLog = {},
                         .httpLimits = {},
                         .radioTiming = {},
                         .identifiers = &identifiers});
  }

  // Waits in real time until the engine has posted `count` requests in all.
  ::testing::AssertionResult WaitForRequests(std::size_t count, seconds limit = seconds(60)) {
    if (StandInBridge::WaitFor([&] { return ui->Requests().size() >= count; }, limit)) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "only " << ui->Requests().size() << " requests";
  }

  void Serve(Uploader& uploader, const std::string& document) {
    const auto requests = ui->Requests();
    ASSERT_FALSE(requests.empty());
    uploader.Engine().ProcessAction(requests.back().request.requestNumber, "http", document, false,
                                    requests.back().context);
  }

  std::string Tracker(const char* field) { return bridge.Device(0)["tracker"][field].dump(); }

  StandInBridge bridge;
  MemorySettingsStore store;
  WinBaseStationDevices devices;
  LinkIdentifiers identifiers{20261216};
  RecordingUserInterface* ui = nullptr;
};

TEST_F(WinRadioSessionTest, TheCandidatesAreTheBridgeDevicesThenTheLibusbStations) {
  bridge.Attach({{"vid", "0FCF"}, {"pid", "1008"}, {"serial", "10005"}, {"serialWord56", 77}});
  json nordic = {{"vid", 0x1915}, {"pid", 0x0101}, {"product", "nRF"}, {"serial", "9"}};
  bridge.Usb({{"command", "bus"}, {"busses", json::array({json::array({nordic})})}});
  const std::vector<BaseStationCandidate> candidates = devices.Candidates();
  ASSERT_EQ(candidates.size(), 3U);
  EXPECT_EQ(candidates[0].vendorId, 0x10C4);
  EXPECT_EQ(candidates[0].productId, 0x84C4);
  EXPECT_EQ(candidates[0].serial, "4021337");
  EXPECT_EQ(candidates[1].vendorId, 0x0FCF);
  EXPECT_EQ(candidates[1].serial, "10005");
  EXPECT_EQ(candidates[2].vendorId, 0x1915);
  EXPECT_EQ(candidates[2].serial, "9");
  const std::shared_ptr<DSISerial> transport = devices.CreateTransport();
  EXPECT_NE(dynamic_cast<DSISerialSI*>(transport.get()), nullptr);
  // Nothing to power-cycle under Wine; it must only come back.
  devices.RestartDevices(0x0FCF, 0x1004);
}

TEST_F(WinRadioSessionTest, AWholeBackgroundSessionRunsThroughTheBridgeLibrary) {
  bridge.Si({{"command", "answer"},
             {"device", 0},
             {"prefix", {0x22, 0x01}},
             {"kind", "download"},
             {"size", 1500}});
  auto uploader = Make();
  const auto started = std::chrono::steady_clock::now();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  EXPECT_TRUE(bridge.Device(0)["open"].get<bool>());
  EXPECT_TRUE(ui->HasLog("Initialized communication [VID: 0x10c4, PID: 0x84c4, SERIAL: 4021337]."));

  // Linked: the first results go out.
  ASSERT_TRUE(WaitForRequests(1));
  const auto linked = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(ui->HasLog("LINKED! [standard beacon]"));
  EXPECT_EQ(ui->Requests()[0].request.body, "beaconType=standard&" + kIdentity);
  EXPECT_EQ(Tracker("state"), "\"linked\"");
  EXPECT_EQ(Tracker("hostId"), std::to_string(identifiers.HostId()));

  // A command whose answer the host downloads in bursts.
  Serve(*uploader, CommandDocument(RemoteOp(kDownloadCommand)));
  ASSERT_TRUE(WaitForRequests(2));
  RequestBody expected;
  expected.AddOperationResult(Pattern(1500), "success");
  expected.AddField("beaconType", "standard");
  EXPECT_EQ(ui->Requests()[1].request.body, expected.Finish() + "&" + kIdentity);
  EXPECT_EQ(Tracker("commands"), "1");
  EXPECT_EQ(Tracker("dataErrors"), "0");

  // Close: the tracker sleeps, the channel closes, the results go out.
  Serve(*uploader,
        "<p><response host=\"srv\" port=\"80\" path=\"/done\"/>"
        "<device action=\"close\" sleepPeriod=\"60\"/></p>");
  ASSERT_TRUE(WaitForRequests(3));
  EXPECT_EQ(Tracker("state"), "\"asleep\"");
  EXPECT_TRUE(ui->HasLog("Closed channel."));
  Serve(*uploader, "<p><device action=\"close\"/></p>");
  EXPECT_TRUE(uploader->Engine().IsActive());
  EXPECT_EQ(uploader->Engine().Mode(), "standard");

  // Both read paths of the bridge carried the session.
  const json station = bridge.Device(0);
  EXPECT_GT(station["completedPending"].get<int>(), 0);
  EXPECT_GT(station["immediateReads"].get<int>(), 0);
  EXPECT_GT(station["bytesWritten"].get<int>(), 0);
  uploader.reset();
  EXPECT_FALSE(bridge.Device(0)["open"].get<bool>());
  EXPECT_EQ(DSISerialSI::RunningReadThreads(), 0);
  EXPECT_EQ(USBDeviceHandleSI::RunningReceiveThreads(), 0);
  std::printf("[ INFO     ] linked after %lld ms\n",
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(linked).count()));
}

TEST_F(WinRadioSessionTest, AnUnpluggedStationIsClosedAndThePlugInLinksAgain) {
  // A tracker that lost its host beacons for a new one after 3 s (instead of 30).
  bridge.Reset();
  bridge.Attach({{"vid", "10C4"}, {"pid", "84C4"}, {"serial", "4021337"}, {"trackerIdleMs", 3000}});
  auto uploader = Make();
  uploader->Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  ASSERT_TRUE(WaitForRequests(1));
  // Pulled out mid-read: the bridge's probe fails, the transport reports Error(1) on every poll
  // and the radio side closes the base station.
  bridge.Si({{"command", "unplug"}, {"device", 0}});
  EXPECT_TRUE(
      StandInBridge::WaitFor([&] { return !bridge.Device(0)["open"].get<bool>(); }, seconds(30)));
  EXPECT_TRUE(StandInBridge::WaitFor(
      [&] {
        return ui->HasLog(
            "Failed to initialize communication [VID: 0x10c4, PID: 0x84c4]. Is the base station "
            "plugged in?");
      },
      seconds(30)));
  EXPECT_GE(bridge.Device(0)["failedProbes"].get<int>(), 1);

  bridge.Si({{"command", "replug"}, {"device", 0}});
  uploader->Engine().ProcessAction(0, "basestationconnect", "4021337", false, kNoContext);
  ASSERT_TRUE(WaitForRequests(2));
  EXPECT_EQ(ui->Requests()[1].request.body, "beaconType=standard&" + kIdentity);
  EXPECT_TRUE(bridge.Device(0)["open"].get<bool>());
  uploader.reset();
  EXPECT_EQ(DSISerialSI::RunningReadThreads(), 0);
  EXPECT_EQ(USBDeviceHandleSI::RunningReceiveThreads(), 0);
}

}  // namespace
}  // namespace Pellux
