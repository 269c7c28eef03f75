#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device/ant_message.h"
#include "link/packet.h"
#include "link/received_unit.h"
#include "station_fixture.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kSession = 0x1234;
constexpr std::uint32_t kHostId = 0x01020304;

using LinkTest = StationTest;

TEST_F(LinkTest, ResetReachesTheTrackerAndIsReportedSent) {
  OpenChannel();
  ResetSequence();
  const std::vector<AntFrame> period = Deliver(ResetPacket());
  EXPECT_EQ(period.size(), 2u);
  EXPECT_EQ(period[0].id, AntId::kBroadcastData);
  EXPECT_EQ(period[1], EventFrame(0, AntEvent::kTransferTxCompleted));
  EXPECT_EQ(Station().Tracker().received, (std::vector<Bytes>{{0x78, 0x01, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Searching);
  // The host's message as recorded.
  EXPECT_EQ(Station().HostMessages().back(),
            (AntFrame{AntId::kAcknowledgedData, {0, 0x78, 0x01, 0, 0, 0, 0, 0, 0}}));
}

TEST_F(LinkTest, LinkMovesTheTrackerToTheSessionChannel) {
  OpenChannel();
  ResetSequence();
  Deliver(ResetPacket());
  ResetSequence();
  EXPECT_EQ(CountEvents(Deliver(LinkPacket(kSession, kHostId)), AntEvent::kTransferTxCompleted),
            1u);
  const TrackerSnapshot tracker = Station().Tracker();
  EXPECT_EQ(tracker.state, TrackerLinkState::Linked);
  EXPECT_EQ(tracker.sessionDeviceNumber, kSession);
  EXPECT_EQ(tracker.hostId, kHostId);

  // The search channel has lost it: receive failures, then the module searches again.
  const std::vector<AntFrame> lost = Periods(12);
  EXPECT_TRUE(WithId(lost, AntId::kBroadcastData).empty());
  EXPECT_EQ(CountEvents(lost, AntEvent::kRxFail), 8u);
  EXPECT_EQ(CountEvents(lost, 0x08), 1u);

  CloseChannel();
  OpenChannel(kSession);
  const std::vector<AntFrame> beacon = Periods(1);
  ASSERT_EQ(beacon.size(), 1u);
  EXPECT_EQ(beacon[0].id, AntId::kBroadcastData);
  // Bytes 0-3: the host ID, least significant first.
  EXPECT_EQ(Bytes(beacon[0].data.begin() + 1, beacon[0].data.begin() + 5),
            (Bytes{0x04, 0x03, 0x02, 0x01}));
}

TEST_F(LinkTest, ALinkedTrackerIgnoresWildcardSearchesAndOtherSessions) {
  OpenChannel();
  ResetSequence();
  Deliver(ResetPacket());
  ResetSequence();
  Deliver(LinkPacket(kSession, kHostId));
  for (const std::uint16_t other : std::vector<std::uint16_t>{0xFFFF, 0x0000, 0x1235}) {
    OpenChannel(other);
    EXPECT_TRUE(WithId(Periods(4), AntId::kBroadcastData).empty()) << other;
  }
}

TEST_F(LinkTest, PingIsAnsweredWithAControlPacketInTheNextPeriod) {
  Link(kSession, kHostId);
  const std::vector<AntFrame> sent = Deliver(PingPacket());
  EXPECT_EQ(CountEvents(sent, AntEvent::kTransferTxCompleted), 1u);
  const Bytes pong = ReceiveFromTracker(1);
  ASSERT_EQ(pong.size(), 8u);
  const ReceivedUnit unit = ClassifyUnit(pong);
  EXPECT_EQ(unit.kind, UnitKind::Control);
  // The PONG of the link was sequence 0; this one follows it.
  EXPECT_EQ(unit.sequence, 1);
  EXPECT_EQ(pong[0], 0x79);
}

TEST_F(LinkTest, TheTrackerCountsItsTransmitSequenceAcrossItsPackets) {
  Link(kSession, kHostId);
  for (std::uint8_t expected = 1; expected < 12; ++expected) {
    Deliver(PingPacket());
    const Bytes pong = ReceiveFromTracker(1);
    ASSERT_EQ(pong.size(), 8u);
    EXPECT_EQ(pong[0], 0x78 | (expected & 7));
  }
}

TEST_F(LinkTest, ALinkedTrackerLeftAloneReturnsToItsSearchBeacon) {
  BaseStationOptions options;
  options.tracker.sessionIdleTimeout = 10s;
  Start(options);
  Link(kSession, kHostId);
  CloseChannel();
  Wait(9s);
  OpenChannel(0xFFFF);
  EXPECT_TRUE(WithId(Periods(4), AntId::kBroadcastData).empty());
  Wait(1s);
  const std::vector<AntFrame> beacons = WithId(Periods(1), AntId::kBroadcastData);
  ASSERT_EQ(beacons.size(), 1u);
  EXPECT_EQ(beacons[0].data[1], 0);  // no host any more
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Searching);
}

TEST_F(LinkTest, ResetOnTheSessionChannelSendsTheTrackerBackToSearching) {
  Link(kSession, kHostId);
  EXPECT_EQ(CountEvents(Deliver(ResetPacket()), AntEvent::kTransferTxCompleted), 1u);
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Searching);
  EXPECT_TRUE(WithId(Periods(2), AntId::kBroadcastData).empty());
}

TEST_F(LinkTest, UnlinkPutsTheTrackerToSleepForItsUnitsOf15Seconds) {
  Link(kSession, kHostId);
  // 30 seconds: byte 6 = 2.
  EXPECT_EQ(CountEvents(Deliver(UnlinkPacket(30)), AntEvent::kTransferTxCompleted), 1u);
  const TrackerSnapshot tracker = Station().Tracker();
  EXPECT_EQ(tracker.state, TrackerLinkState::Asleep);
  EXPECT_EQ(tracker.sleepUnits, 2);
  EXPECT_EQ(tracker.wakeTime, clock_.Now() + 30s);
  CloseChannel();

  OpenChannel(0xFFFF);
  // Asleep: quiet on every channel until the 30 seconds are over.
  EXPECT_TRUE(Wait(29875ms).empty());
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Asleep);
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Searching);
}

TEST_F(LinkTest, UnlinkWakesExactlyAtTheEndOfItsSleep) {
  Link(kSession, kHostId);
  Deliver(UnlinkPacket(15));
  const auto wake = Station().Tracker().wakeTime;
  CloseChannel();
  OpenChannel(0xFFFF);
  std::vector<AntFrame> frames;
  while (frames.empty()) {
    frames = WithId(Periods(1), AntId::kBroadcastData);
  }
  // The first beacon comes in the first period that ends at or after the wake time.
  EXPECT_GE(clock_.Now(), wake);
  EXPECT_LT(clock_.Now() - wake, kPeriod);
}

TEST_F(LinkTest, UnlinkWithoutSleepLeavesTheTrackerSearching) {
  Link(kSession, kHostId);
  Deliver(UnlinkPacket(14));
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Searching);
  CloseChannel();
  OpenChannel(0xFFFF);
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
}

TEST_F(LinkTest, TrackerStateSurvivesClosingAndReopeningTheTransport) {
  Link(kSession, kHostId);
  Station().Close(false);
  ASSERT_TRUE(Station().Open());
  EXPECT_EQ(Station().Tracker().state, TrackerLinkState::Linked);
  OpenChannel(kSession);
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
}

}  // namespace
}  // namespace Pellux
