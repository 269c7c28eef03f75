#include <gtest/gtest.h>

#include <boost/format.hpp>
#include <string>
#include <vector>

#include "tests/link/session_fixture.h"

namespace Pellux {
namespace {

class SessionFaultTest : public SessionRoadTest {
 protected:
  // Runs one download of `size` bytes after the link and returns the posted body; the server
  // wants the results whatever happens.
  std::string RunDownload(std::size_t size) {
    Script({0x22, 0x01}, TrackerAnswer::Download(Pattern(size)));
    Serve(CommandDocument(RemoteOp(kDownloadCommand), "respondAlways"));
    EXPECT_TRUE(RunUntilRequests(2));
    return LastBody();
  }

  // How many acknowledged messages carrying the command's header the host wrote.
  std::size_t CommandWrites() const {
    std::size_t count = 0;
    for (const AntFrame& frame : station.HostMessages()) {
      if (frame.id == 0x4F && frame.data.size() == 9 && frame.data[2] == kDownloadCommand[0] &&
          frame.data[3] == kDownloadCommand[1]) {
        ++count;
      }
    }
    return count;
  }

  // How many control packets of `type` (0 PING, 3 UNLINK) the host wrote.
  std::size_t ControlWrites(std::uint8_t type) const {
    std::size_t count = 0;
    for (const AntFrame& frame : DataWrittenSince(0)) {
      if (frame.id == 0x4F && (frame.data.at(1) & 0x40) != 0 && frame.data.at(2) == type) ++count;
    }
    return count;
  }

  // The module answered a write with "transfer in progress": two were in flight at once.
  bool AnyTransferRefused() const {
    return ui.HasLog("Acknowledged data refused: a transfer is in progress (ignoring)") ||
           ui.HasLog("Unexpected acknowledgement:  failed");
  }

  const std::string downloadOk =
      StandardBody([](RequestBody& body) { body.AddOperationResult(Pattern(700), "success"); });
};

TEST_F(SessionFaultTest, FailedPingIsRetriedBeforeTheUnlinkQueuedBehindIt) {
  LinkStandardSession();
  // The keep-alive ping fails twice: whichever of its sends is in flight when the server closes
  // the session, the sleep request has to wait behind it.
  station.Faults().FailTransfers(2);
  const std::size_t pings = ui.CountLog("PING");
  for (int period = 0; period < 100 && ui.CountLog("PING") == pings; ++period) {
    Advance(kChannelPeriod);
  }
  ASSERT_GT(ui.CountLog("PING"), pings);
  Serve(
      "<p><response host=\"srv\" port=\"80\" path=\"/done\"/>"
      "<device action=\"close\" sleepPeriod=\"60\"/></p>");
  Radio([this] { ASSERT_EQ(radio->QueuedPackets(), 1U); });

  ASSERT_TRUE(RunUntilRequests(2));
  EXPECT_EQ(ControlWrites(0x00), 4U);  // the link's ping, the keep-alive and its two retries
  EXPECT_EQ(ControlWrites(0x03), 1U);
  EXPECT_FALSE(AnyTransferRefused());
  EXPECT_FALSE(ui.HasLog("Retries exhausted"));
  EXPECT_EQ(station.Tracker().state, TrackerLinkState::Asleep);
  EXPECT_EQ(LastBody(), StandardTail());
  Radio([this] { EXPECT_EQ(radio->PendingAcknowledgements(), 0); });
}

TEST_F(SessionFaultTest, CommandRetriedTwiceHoldsBackTheDataRequestQueuedMeanwhile) {
  LinkStandardSession();
  // The tracker takes the command, but its acknowledgement is lost twice; meanwhile it
  // announces its data, and the host's data request has to wait for the retries.
  station.Faults().DuplicateUnits(Direction::ToTracker, 2);
  EXPECT_EQ(RunDownload(700), downloadOk);
  EXPECT_EQ(CommandWrites(), 3U);
  EXPECT_FALSE(AnyTransferRefused());
  EXPECT_EQ(station.Tracker().commands.size(), 1U);
}

TEST_F(SessionFaultTest, RestartAskedForByAnEarlierConfigurationSparesTheHealthySession) {
  // The first assignment is refused as "wrong state": a restart is armed for 10 s later, and
  // the idle time-out restarts the session first, which then configures, links and posts.
  station.Faults().RefuseCommand(0x42, 0x15);
  Act("init", "standard");
  ASSERT_TRUE(ui.HasLog("Channel in wrong state or not opened! Attempting hard restart..."));
  ASSERT_TRUE(RunUntilRequests(1, std::chrono::seconds(9)));
  Advance(std::chrono::seconds(15));
  EXPECT_FALSE(ui.HasLog("Shutting down..."));
  EXPECT_EQ(radio->GetLinkState(), LinkState::Linked);
  EXPECT_EQ(CountHost(station, 0x4A), 3U);  // the first opening, the retry, the session channel
}

TEST_F(SessionFaultTest, DeadLineWithoutARemovalEventIsClosedAndOpenedAfresh) {
  LinkStandardSession();
  // The line goes dead but nobody reports the removal: no close can reach the module.
  station.Unplug(DSISerialCallback::kDeviceUnreadable);
  Advance(std::chrono::seconds(10));
  EXPECT_TRUE(ui.HasLog("The close request could not be sent. Closing the base station..."));
  EXPECT_FALSE(radio->IsAntOpen());
  EXPECT_FALSE(radio->IsClosing());
  EXPECT_FALSE(radio->HasPumpThread());
  EXPECT_TRUE(ui.HasLog(
      "Failed to initialize communication [VID: 0x10c4, PID: 0x84c4]. Is the base station plugged "
      "in?"));

  station.Replug();
  Act("basestationconnect", "4021337");
  ASSERT_TRUE(RunUntilRequests(2));
  EXPECT_EQ(LastBody(), StandardTail());
}

TEST_F(SessionFaultTest, UiSessionPostsFirstAndAcquiresOnTheServersWord) {
  const ReplyEndpoint pipe{"\\\\.\\pipe\\ui", {}};
  Act("init", "setup", &pipe);
  ASSERT_EQ(ui.Requests().size(), 1U);
  EXPECT_EQ(LastBody(),
            "p%5flcl=en%5fUS&clientMode=setup&clientId=client%2d0001&clientVersion=1%2e2&os="
            "TestOS%201%2e0");
  // Nothing was sent to the tracker for it.
  EXPECT_TRUE(DataWrittenSince(0).empty());

  Serve(
      "<p><response host=\"srv\" port=\"80\" path=\"/acq\"/><device action=\"acquire\">"
      "<trackerAcquire><beaconType>standard</beaconType></trackerAcquire></device></p>");
  ASSERT_TRUE(RunUntilRequests(2));
  EXPECT_EQ(LastBody(),
            "acquired=true&beaconType=standard&p%5flcl=en%5fUS&clientMode=setup&clientId=client%"
            "2d0001&clientVersion=1%2e2&os=TestOS%201%2e0");
  EXPECT_EQ(ui.Requests()[1].context, &pipe);
  EXPECT_TRUE(station.Tracker().state == TrackerLinkState::Linked);
}

TEST_F(SessionFaultTest, UnitLostOnTheWayToTheTrackerIsSentAgain) {
  LinkStandardSession();
  station.Faults().LoseUnits(Direction::ToTracker, 1);
  EXPECT_EQ(RunDownload(700), downloadOk);
  EXPECT_EQ(CommandWrites(), 2U);
  EXPECT_TRUE(ui.HasLog("Retrying..."));
}

TEST_F(SessionFaultTest, UnitDuplicatedToTheTrackerIsTakenOnce) {
  LinkStandardSession();
  station.Faults().DuplicateUnits(Direction::ToTracker, 1);
  EXPECT_EQ(RunDownload(700), downloadOk);
  EXPECT_EQ(station.Tracker().commands.size(), 1U);
  EXPECT_EQ(station.Tracker().duplicatesIgnored, 1U);
}

TEST_F(SessionFaultTest, UnitDuplicatedToTheHostIsDropped) {
  LinkStandardSession();
  station.Faults().DuplicateUnits(Direction::ToHost, 1);
  EXPECT_EQ(RunDownload(700), downloadOk);
  EXPECT_TRUE(ui.HasLog("Ignoring duplicate packet [0]") ||
              ui.HasLog("Ignoring duplicate packet [1]"));
}

TEST_F(SessionFaultTest, UnitLostOnTheWayToTheHostEndsInAnIdleTimeOut) {
  LinkStandardSession();
  // The tracker's "data available" never arrives; it waits for a request that never comes.
  station.Faults().LoseUnits(Direction::ToHost, 1);
  const std::string body = RunDownload(700);
  EXPECT_TRUE(ui.HasLog("Beacon failure"));
  EXPECT_TRUE(ui.HasLog("Idle timeout: 4000 milliseconds"));
  EXPECT_EQ(body, StandardBody([](RequestBody& request) {
              request.AddField("trackerConnectionDropped", "true");
              request.AddOperationResult({}, "disconnect_idle_timeout");
            }));
}

TEST_F(SessionFaultTest, CorruptBurstChecksumIsReportedForTheOperation) {
  LinkStandardSession();
  station.Faults().CorruptNextBurst(Direction::ToHost, BurstCorruption::Checksum);
  const std::string body = RunDownload(700);
  EXPECT_TRUE(ui.HasLog("Error reported: wrong_checksum"));
  EXPECT_EQ(body, StandardBody([](RequestBody& request) {
              request.AddOperationResult({}, "disconnect_wrong_checksum");
            }));
}

TEST_F(SessionFaultTest, ShortBurstIsReportedAsTheWrongSize) {
  LinkStandardSession();
  station.Faults().CorruptNextBurst(Direction::ToHost, BurstCorruption::Size);
  const std::string body = RunDownload(700);
  EXPECT_TRUE(ui.HasLog("Error reported: wrong_size"));
  EXPECT_EQ(body, StandardBody([](RequestBody& request) {
              request.AddOperationResult({}, "disconnect_wrong_size");
            }));
}

TEST_F(SessionFaultTest, TrackerFallingSilentDuringAnOperationIsAnIdleTimeOut) {
  LinkStandardSession();
  Script({0x22, 0x01}, TrackerAnswer::Download(Pattern(700)));
  Serve(CommandDocument(RemoteOp(kDownloadCommand), "respondAlways"));
  // It takes the command, then goes quiet.
  while (station.Tracker().commands.empty()) Advance(kChannelPeriod);
  station.Faults().SetTrackerSilent(true);
  ASSERT_TRUE(RunUntilRequests(2));
  EXPECT_TRUE(ui.HasLog("Idle timeout: 4000 milliseconds"));
  EXPECT_FALSE(ui.HasLog("PING"));
  EXPECT_EQ(LastBody(), StandardBody([](RequestBody& request) {
              request.AddField("trackerConnectionDropped", "true");
              request.AddOperationResult({}, "disconnect_idle_timeout");
            }));
}

TEST_F(SessionFaultTest, TrackerSilentBeforeTheCommandFailsItsSend) {
  LinkStandardSession();
  station.Faults().SetTrackerSilent(true);
  EXPECT_EQ(RunDownload(700), StandardBody([](RequestBody& request) {
              request.AddOperationResult({}, "disconnect_send_failed");
            }));
  EXPECT_EQ(CommandWrites(), 4U);
}

TEST_F(SessionFaultTest, SilentTrackerWhileLinkedIsAPingTimeOut) {
  LinkStandardSession();
  station.Faults().SetTrackerSilent(true);
  // The server has nothing for the tracker yet and asks again later.
  Serve(
      "<p><response host=\"srv\" port=\"80\" path=\"/wait\"/><device action=\"command\"/>"
      "<clientDisplay><dialog containsForm=\"true\"><![CDATA[<form/>]]></dialog></clientDisplay>"
      "</p>");
  Advance(std::chrono::seconds(12));
  EXPECT_TRUE(ui.HasLog("PING"));
  EXPECT_TRUE(ui.HasLog("Ping timeout: 8000 milliseconds"));
  EXPECT_TRUE(ui.HasLog("Disconnecting: ping_timeout"));
}

TEST_F(SessionFaultTest, TransfersFailingBeyondTheOperationsRetriesEndIt) {
  LinkStandardSession();
  // The command's own retries (3 by default) replace the channel's budget while it is sent.
  station.Faults().FailTransfers(4);
  const std::string body = RunDownload(700);
  EXPECT_EQ(CommandWrites(), 4U);
  EXPECT_TRUE(ui.HasLog("Failed to send command"));
  EXPECT_EQ(body, StandardBody([](RequestBody& request) {
              request.AddOperationResult({}, "disconnect_send_failed");
            }));
}

TEST_F(SessionFaultTest, ForeignHostIdOnTheSessionChannelDropsTheLink) {
  station.Faults().SetBeaconHostId(0x1234);
  Act("init", "standard");
  Advance(std::chrono::seconds(3));
  EXPECT_TRUE(ui.HasLog("Host ID mismatch [expected " +
                        (boost::format("%x") % identifiers.HostId()).str() +
                        ", not 1234].  Dropping link..."));
  EXPECT_TRUE(ui.Requests().empty());
  // RESET and LINK went out, the ping never did; the session channel was closed.
  std::vector<std::uint8_t> sent;
  for (const AntFrame& frame : DataWrittenSince(0)) sent.push_back(frame.data.at(2));
  EXPECT_EQ(sent, (std::vector<std::uint8_t>{0x01, 0x02}));
  EXPECT_EQ(CountHost(station, 0x4C), 2U);
  // A fresh standard session searches again.
  EXPECT_TRUE(manager->IsActive());
}

TEST_F(SessionFaultTest, NoBeaconWithinTheAcquireTimeOutEndsTheSession) {
  station.Faults().SetTrackerInRange(false);
  Act("init", "standard");
  EXPECT_EQ(CountHost(station, 0x4A), 1U);
  Advance(std::chrono::seconds(600));
  // The expiry reset the module, and the next session configured it from a reset again.
  EXPECT_EQ(CountHost(station, 0x4A), 3U);
  EXPECT_TRUE(DataWrittenSince(0).empty());
  EXPECT_TRUE(ui.HasLog("Timed out waiting for beacon: 600 seconds"));
  EXPECT_TRUE(ui.HasLog("Disconnecting: search_timeout"));
  EXPECT_TRUE(ui.Requests().empty());
  EXPECT_TRUE(manager->IsActive());
  EXPECT_TRUE(radio->IsChannelOpen());
  // The module's own search time-out takes the same road.
  station.Faults().ForceSearchTimeout();
  Advance(kChannelPeriod);
  EXPECT_EQ(ui.CountLog("Disconnecting: search_timeout"), 2U);
}

TEST_F(SessionFaultTest, UnplugMidTransferLeavesNothingBehindAndTheNextPlugInLinksAgain) {
  LinkStandardSession();
  Script({0x22, 0x01}, TrackerAnswer::Download(Pattern(5000)));
  Serve(CommandDocument(RemoteOp(kDownloadCommand)));
  Advance(std::chrono::milliseconds(500));
  ASSERT_FALSE(ui.HasLog("Data transfer complete."));
  station.Unplug(DSISerialCallback::kReadFailed);
  Act("basestationdisconnect", "4021337");
  EXPECT_FALSE(manager->IsActive());
  EXPECT_FALSE(radio->HasPumpThread());
  EXPECT_EQ(ui.Requests().size(), 1U);

  station.Replug();
  Act("basestationconnect", "4021337");
  Advance(std::chrono::seconds(60));
  ASSERT_TRUE(RunUntilRequests(2));
  EXPECT_EQ(LastBody(), StandardTail());
}

}  // namespace
}  // namespace Pellux
