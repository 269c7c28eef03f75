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

  const std::string downloadOk =
      StandardBody([](RequestBody& body) { body.AddOperationResult(Pattern(700), "success"); });
};

TEST_F(SessionFaultTest, UiSessionPostsFirstAndAcquiresOnTheServersWord) {
  const std::string pipe = "\\\\.\\pipe\\ui";
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
  EXPECT_TRUE(radio.IsChannelOpen());
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
  EXPECT_FALSE(radio.HasPumpThread());
  EXPECT_EQ(ui.Requests().size(), 1U);

  station.Replug();
  Act("basestationconnect", "4021337");
  Advance(std::chrono::seconds(60));
  ASSERT_TRUE(RunUntilRequests(2));
  EXPECT_EQ(LastBody(), StandardTail());
}

}  // namespace
}  // namespace Pellux
