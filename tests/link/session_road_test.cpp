#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/base64.h"
#include "server/request_body.h"
#include "tests/support/radio_engine_fixture.h"

namespace Pellux {
namespace {

// 0, 1, 2, ... wrapping at 251, so that misplaced chunks show.
std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

const PacketHeader kDownloadCommand{0x22, 0x01, 0, 0, 0, 0, 0};
const PacketHeader kUploadCommand{0x22, 0x02, 0, 0, 0, 0, 0};

std::string RemoteOp(const PacketHeader& header, const std::vector<std::uint8_t>& payload = {}) {
  std::string op = "<remoteOp><opCode>" + Base64Encode(header) + "</opCode>";
  if (!payload.empty()) op += "<payloadData>" + Base64Encode(payload) + "</payloadData>";
  return op + "</remoteOp>";
}

std::string CommandDocument(const std::string& ops) {
  return "<p><response host=\"srv\" port=\"80\" path=\"/next\"/><device action=\"command\">"
         "<remoteOps>" +
         ops + "</remoteOps></device></p>";
}

const std::string kIdentity =
    "p%5flcl=en%5fUS&clientMode=standard&clientId=client%2d0001&clientVersion=1%2e2&os="
    "TestOS%201%2e0";

class SessionRoadTest : public RadioEngineTest {
 protected:
  // Lets the radio run until the engine has posted `count` requests in all, at most `limit`
  // of virtual time.
  ::testing::AssertionResult RunUntilRequests(
      std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    for (auto waited = std::chrono::milliseconds(0); waited < limit; waited += kChannelPeriod) {
      if (ui.Requests().size() >= count) return ::testing::AssertionSuccess();
      Advance(kChannelPeriod);
    }
    if (ui.Requests().size() >= count) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "only " << ui.Requests().size() << " requests";
  }

  // Answers the latest request with `document`.
  void Serve(const std::string& document) {
    const auto requests = ui.Requests();
    ASSERT_FALSE(requests.empty());
    manager->ProcessAction(requests.back().request.requestNumber, "http", document, false,
                           requests.back().context);
    Settle();
  }

  std::string LastBody() const { return ui.Requests().back().request.body; }

  void Script(std::vector<std::uint8_t> prefix, TrackerAnswer answer) {
    station.WithTracker([&](VirtualTracker& tracker) { tracker.SetAnswer(prefix, answer); });
  }
};

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
  EXPECT_EQ(radio.GetLinkState(), LinkState::Searching);
  EXPECT_TRUE(radio.IsChannelOpen());
}

}  // namespace
}  // namespace Pellux
