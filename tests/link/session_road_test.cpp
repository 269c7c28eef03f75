#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/request_body.h"
#include "tests/link/session_fixture.h"

namespace Pellux {
namespace {

TEST_F(SessionRoadTest, LinkingResetsTheTrackerMovesItToItsSessionChannelAndPingsIt) {
  Act("init", "standard");
  ASSERT_TRUE(RunUntilRequests(1));
  const TrackerSnapshot tracker = station.Tracker();
  const std::uint16_t number = tracker.sessionDeviceNumber;
  const std::uint32_t host = identifiers.HostId();
  const auto low = [](std::uint32_t value, int shift) {
    return static_cast<std::uint8_t>((value >> shift) & 0xFF);
  };
  const std::vector<AntFrame> configuration{
      {0x4A, {0x00}},    {0x46, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0x42, {0, 0, 0}}, {0x43, {0, 0x00, 0x10}},
      {0x45, {0, 2}},    {0x47, {0x00, 3}},
      {0x44, {0, 0xFF}},
  };
  std::vector<AntFrame> expected = configuration;
  expected.push_back({0x51, {0, 0xFF, 0xFF, 1, 1}});
  expected.push_back({0x4B, {0}});
  expected.push_back({0x4F, {0, 0x78, 0x01, 0, 0, 0, 0, 0, 0}});
  expected.push_back({0x4F,
                      {0, 0x78, 0x02, low(number, 0), low(number, 8), low(host, 0), low(host, 8),
                       low(host, 16), low(host, 24)}});
  expected.push_back({0x4C, {0}});
  expected.insert(expected.end(), configuration.begin(), configuration.end());
  expected.push_back({0x51, {0, low(number, 0), low(number, 8), 1, 1}});
  expected.push_back({0x4B, {0}});
  expected.push_back({0x4F, {0, 0x78, 0x00, 0, 0, 0, 0, 0, 0}});
  EXPECT_EQ(station.HostMessages(), expected);
  EXPECT_EQ(tracker.hostId, host);
  EXPECT_TRUE(ui.HasLog("Setting 5 second search timeout [timeout: 255]..."));
  EXPECT_TRUE(ui.HasLog("LINKED! [standard beacon]"));
}

TEST_F(SessionRoadTest, StandardRoadFromPlugInToTheNextSearch) {
  Act("init", "standard");
  Act("basestationconnect", "4021337");
  ASSERT_TRUE(RunUntilRequests(1));
  EXPECT_EQ(LastBody(), "beaconType=standard&" + kIdentity);
  EXPECT_EQ(ui.Requests()[0].request.host, kDefaultServerHost);
  const std::uint32_t hostId = identifiers.HostId();
  EXPECT_EQ(station.Tracker().hostId, hostId);

  // Two commands: one whose answer takes several bursts, one whose payload the tracker asks
  // for in 512-byte pieces.
  const std::vector<std::uint8_t> download = Pattern(1500);
  const std::vector<std::uint8_t> upload = Pattern(1000);
  Script({0x22, 0x01}, TrackerAnswer::Download(download));
  Script({0x22, 0x02}, TrackerAnswer::Upload(512, 1000));
  Serve(CommandDocument(RemoteOp(kDownloadCommand) + RemoteOp(kUploadCommand, upload)));
  ASSERT_TRUE(RunUntilRequests(2));

  RequestBody expected;
  expected.AddOperationResult(download, "success");
  // The tracker's terminating status counts the bytes it took: 1000.
  const std::vector<std::uint8_t> status{0x41, 0xE8, 0x03, 0, 0, 0, 0};
  expected.AddOperationResult({}, "success", status);
  expected.AddField("beaconType", "standard");
  EXPECT_EQ(LastBody(), expected.Finish() + "&" + kIdentity);
  const TrackerSnapshot tracker = station.Tracker();
  ASSERT_EQ(tracker.commands.size(), 2U);
  EXPECT_EQ(tracker.commands[0], (ReceivedCommand{kDownloadCommand, {}}));
  EXPECT_EQ(tracker.commands[1], (ReceivedCommand{kUploadCommand, upload}));
  EXPECT_EQ(tracker.dataErrors, 0U);

  // Close: the tracker is put to sleep, the channel closes, and only then is the request
  // posted.
  Serve(
      "<p><response host=\"srv\" port=\"80\" path=\"/done\"/>"
      "<device action=\"close\" sleepPeriod=\"60\"/></p>");
  ASSERT_TRUE(RunUntilRequests(3));
  EXPECT_EQ(station.Tracker().state, TrackerLinkState::Asleep);
  EXPECT_EQ(station.Tracker().sleepUnits, 4);
  EXPECT_TRUE(ui.HasLog("Commanding tracker to sleep for 60 seconds..."));
  EXPECT_LT(
      ui.FindLog("Closed channel."),
      ui.FindLog("Connecting [3]: POST to http://srv:80/done with data: beaconType=standard&" +
                 kIdentity));

  // The server lets the session go; the next standard session searches again.
  Serve("<p><device action=\"close\"/></p>");
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_EQ(radio->GetLinkState(), LinkState::Searching);
  EXPECT_TRUE(radio->IsChannelOpen());
}

}  // namespace
}  // namespace Pellux
