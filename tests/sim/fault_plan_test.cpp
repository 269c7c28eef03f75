#include "sim/fault_plan.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/ant_message.h"
#include "link/packet.h"
#include "link/packet_bytes.h"
#include "link/received_unit.h"
#include "sim/virtual_ant_module.h"
#include "station_fixture.h"
#include "transfer_helpers.h"

namespace Pellux {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kSession = 0x0BCD;
constexpr std::uint32_t kHostId = 0x12345678;

class FaultPlanTest : public StationTest {
 protected:
  void SetUp() override {
    StationTest::SetUp();
    Link(kSession, kHostId);
  }

  FaultPlan& Faults() { return Station().Faults(); }

  std::size_t PingsReceived() {
    std::size_t pings = 0;
    for (const Bytes& image : Station().Tracker().received) {
      if (image[0] >= 0x78 && image[1] == 0x00) ++pings;
    }
    return pings;
  }

  // What one period brought from the tracker as acknowledged units.
  std::vector<Bytes> UnitsIn(const std::vector<AntFrame>& frames) {
    std::vector<Bytes> units;
    for (const AntFrame& frame : WithId(frames, AntId::kAcknowledgedData)) {
      units.emplace_back(frame.data.begin() + 1, frame.data.end());
    }
    return units;
  }
};

TEST_F(FaultPlanTest, AUnitLostOnTheWayToTheTrackerFailsAndTheRetryGetsThrough) {
  const std::size_t pings = PingsReceived();
  Faults().LoseUnits(Direction::ToTracker, 1);
  const std::vector<AntFrame> lost = Deliver(PingPacket());
  EXPECT_EQ(CountEvents(lost, AntEvent::kTransferTxFailed), 1u);
  EXPECT_EQ(PingsReceived(), pings);
  EXPECT_TRUE(Resend().empty());
  EXPECT_EQ(CountEvents(Periods(1), AntEvent::kTransferTxCompleted), 1u);
  EXPECT_EQ(PingsReceived(), pings + 1);
}

TEST_F(FaultPlanTest, AUnitLostOnTheWayToTheHostLeavesAGapInTheSequence) {
  Faults().LoseUnits(Direction::ToHost, 1);
  Deliver(PingPacket());
  const std::vector<AntFrame> lost = Periods(1);
  EXPECT_TRUE(UnitsIn(lost).empty());
  EXPECT_EQ(CountEvents(lost, AntEvent::kRxFail), 1u);
  Deliver(PingPacket());
  const Bytes pong = ReceiveFromTracker(1);
  ASSERT_EQ(pong.size(), 8u);
  // The lost PONG was sequence 1.
  EXPECT_EQ(pong[0], 0x7A);
}

TEST_F(FaultPlanTest, ALostAcknowledgementMakesTheRetryADuplicateForTheTracker) {
  const std::size_t pings = PingsReceived();
  Faults().DuplicateUnits(Direction::ToTracker, 1);
  EXPECT_EQ(CountEvents(Deliver(PingPacket()), AntEvent::kTransferTxFailed), 1u);
  EXPECT_EQ(PingsReceived(), pings + 1);
  Resend();
  const std::vector<AntFrame> retried = Periods(1);
  EXPECT_EQ(UnitsIn(retried).size(), 1u);  // the one PONG
  EXPECT_EQ(CountEvents(retried, AntEvent::kTransferTxCompleted), 1u);
  EXPECT_EQ(PingsReceived(), pings + 1);
  EXPECT_EQ(Station().Tracker().duplicatesIgnored, 1u);
  EXPECT_TRUE(UnitsIn(Periods(2)).empty());
}

TEST_F(FaultPlanTest, ADuplicatedUnitReachesTheHostInTwoConsecutivePeriods) {
  Faults().DuplicateUnits(Direction::ToHost, 1);
  Deliver(PingPacket());
  const std::vector<Bytes> first = UnitsIn(Periods(1));
  const std::vector<Bytes> second = UnitsIn(Periods(1));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(second, first);
  EXPECT_TRUE(UnitsIn(Periods(2)).empty());
}

TEST_F(FaultPlanTest, ABurstToTheHostWithACorruptChecksum) {
  Station().WithTracker([](VirtualTracker& tracker) {
    tracker.SetAnswer({0x22}, TrackerAnswer::Download(Pattern(100)));
  });
  Deliver(MakeCommand({0x22}));
  ReceiveFromTracker(1);
  Faults().CorruptNextBurst(Direction::ToHost, BurstCorruption::Checksum);
  Deliver(RequestNumbered(0));
  const Bytes image = ReceiveFromTracker(1);
  const DataPacket chunk{Carried(image)};
  EXPECT_EQ(chunk.DeclaredSize(), 100);
  EXPECT_NE(Checksum(std::span(image).subspan(8, 100)), chunk.PayloadChecksum());
  // Only that burst.
  Deliver(RequestNumbered(1));
  const DataPacket end{Carried(ReceiveFromTracker(1))};
  EXPECT_TRUE(end.IsEndOfTransfer());
}

TEST_F(FaultPlanTest, ABurstToTheHostAnnouncingMoreThanItCarries) {
  Station().WithTracker([](VirtualTracker& tracker) {
    tracker.SetAnswer({0x22}, TrackerAnswer::Download(Pattern(100)));
  });
  Deliver(MakeCommand({0x22}));
  ReceiveFromTracker(1);
  Faults().CorruptNextBurst(Direction::ToHost, BurstCorruption::Size);
  Deliver(RequestNumbered(0));
  const Bytes image = ReceiveFromTracker(1);
  EXPECT_EQ(image.size(), 112u);
  const DataPacket chunk{Carried(image)};
  EXPECT_EQ(chunk.DeclaredSize(), 108);
  EXPECT_GT(chunk.DeclaredSize(), image.size() - 8);
}

TEST_F(FaultPlanTest, ACorruptBurstToTheTrackerEndsTheUploadAsBadData) {
  Station().WithTracker(
      [](VirtualTracker& tracker) { tracker.SetAnswer({0x41}, TrackerAnswer::Upload(512)); });
  Deliver(MakeCommand({0x41}));
  const DataRequestPacket drq{Carried(ReceiveFromTracker(1))};
  Faults().CorruptNextBurst(Direction::ToTracker, BurstCorruption::Checksum);
  EXPECT_EQ(CountEvents(Deliver(DataPacket(Pattern(40), drq)), AntEvent::kTransferTxCompleted), 1u);
  EXPECT_EQ(StatusPacket{Carried(ReceiveFromTracker(1))}.SubCode(), TrackerAnswer::kBadData);
  EXPECT_EQ(Station().Tracker().dataErrors, 1u);
}

TEST_F(FaultPlanTest, FailedTransfersReachNobodyAsOftenAsScripted) {
  const std::size_t pings = PingsReceived();
  Faults().FailTransfers(2);
  EXPECT_EQ(CountEvents(Deliver(PingPacket()), AntEvent::kTransferTxFailed), 1u);
  Resend();
  EXPECT_EQ(CountEvents(Periods(1), AntEvent::kTransferTxFailed), 1u);
  EXPECT_EQ(PingsReceived(), pings);
  Resend();
  EXPECT_EQ(CountEvents(Periods(1), AntEvent::kTransferTxCompleted), 1u);
  EXPECT_EQ(PingsReceived(), pings + 1);
}

TEST_F(FaultPlanTest, ASilentTrackerIsLostThenHeardAgain) {
  Faults().SetTrackerSilent(true);
  const std::vector<AntFrame> silence = Periods(12);
  EXPECT_TRUE(WithId(silence, AntId::kBroadcastData).empty());
  EXPECT_EQ(CountEvents(silence, AntEvent::kRxFail), 8u);
  EXPECT_EQ(CountEvents(silence, VirtualAntModule::kRxFailGoToSearch), 1u);
  EXPECT_EQ(CountEvents(Deliver(PingPacket()), AntEvent::kTransferTxFailed), 1u);
  Faults().SetTrackerSilent(false);
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
}

TEST_F(FaultPlanTest, AHungModuleSaysNothingUntilItIsFreed) {
  const std::size_t pings = PingsReceived();
  Faults().SetModuleHung(true);
  EXPECT_TRUE(Periods(4).empty());
  // It still carries what the host writes to the tracker, but reports nothing of it.
  EXPECT_TRUE(Deliver(PingPacket()).empty());
  EXPECT_EQ(PingsReceived(), pings + 1);
  Faults().SetModuleHung(false);
  EXPECT_FALSE(Periods(1).empty());
}

TEST_F(FaultPlanTest, ATrackerOutOfRangeMissesTransfersUntilItComesBack) {
  const std::size_t pings = PingsReceived();
  Faults().SetTrackerInRange(false);
  const std::vector<AntFrame> away = Deliver(PingPacket());
  EXPECT_EQ(CountEvents(away, AntEvent::kTransferTxFailed), 1u);
  EXPECT_EQ(CountEvents(away, AntEvent::kRxFail), 1u);
  EXPECT_EQ(PingsReceived(), pings);
  Faults().SetTrackerInRange(true);
  Resend();
  const std::vector<AntFrame> back = Periods(1);
  EXPECT_EQ(WithId(back, AntId::kBroadcastData).size(), 1u);
  EXPECT_EQ(CountEvents(back, AntEvent::kTransferTxCompleted), 1u);
  EXPECT_EQ(PingsReceived(), pings + 1);
}

TEST_F(FaultPlanTest, AForcedSearchTimeOutClosesTheChannel) {
  Faults().ForceSearchTimeout();
  EXPECT_EQ(Periods(1), (std::vector<AntFrame>{EventFrame(kChannel, AntEvent::kRxSearchTimeout),
                                               EventFrame(kChannel, AntEvent::kChannelClosed)}));
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Assigned);
  EXPECT_TRUE(Periods(8).empty());
  EXPECT_EQ(Command({AntId::kOpenChannel, {kChannel}}),
            std::vector<AntFrame>{ResponseFrame(kChannel, AntId::kOpenChannel, 0)});
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
}

TEST_F(FaultPlanTest, TheSessionBeaconCanCarryAnotherHostId) {
  Faults().SetBeaconHostId(0x11223344);
  std::vector<AntFrame> beacon = Periods(1);
  ASSERT_EQ(beacon.size(), 1u);
  EXPECT_EQ(Bytes(beacon[0].data.begin() + 1, beacon[0].data.begin() + 5),
            (Bytes{0x44, 0x33, 0x22, 0x11}));
  Faults().SetBeaconHostId(std::nullopt);
  beacon = Periods(1);
  ASSERT_EQ(beacon.size(), 1u);
  EXPECT_EQ(Bytes(beacon[0].data.begin() + 1, beacon[0].data.begin() + 5),
            (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(FaultPlanTest, AnotherHostIdIsNotPutIntoASearchBeacon) {
  Faults().SetBeaconHostId(0x11223344);
  Deliver(ResetPacket());
  CloseChannel();
  OpenChannel(0xFFFF);
  const std::vector<AntFrame> beacon = Periods(1);
  ASSERT_EQ(beacon.size(), 1u);
  EXPECT_EQ(Bytes(beacon[0].data.begin() + 1, beacon[0].data.begin() + 5), (Bytes{0, 0, 0, 0}));
}

TEST_F(FaultPlanTest, AcknowledgedDataCanBeRefusedWithAResponseInsteadOfAnEvent) {
  Faults().RefuseCommand(AntId::kAcknowledgedData, AntResponse::kChannelInWrongState);
  const std::size_t pings = PingsReceived();
  EXPECT_EQ(Send(PingPacket()),
            std::vector<AntFrame>{ResponseFrame(kChannel, AntId::kAcknowledgedData, 0x15)});
  EXPECT_EQ(CountEvents(Periods(1), AntEvent::kTransferTxCompleted), 0u);
  EXPECT_EQ(PingsReceived(), pings);
}

TEST(FaultPlanCountersTest, EachCounterIsUsedUpByItsOwnEvents) {
  FaultPlan plan;
  plan.LoseUnits(Direction::ToHost, 2);
  plan.DuplicateUnits(Direction::ToTracker, 1);
  plan.CorruptNextBurst(Direction::ToTracker, BurstCorruption::Size);
  EXPECT_FALSE(plan.TakeLoss(Direction::ToTracker));
  EXPECT_TRUE(plan.TakeLoss(Direction::ToHost));
  EXPECT_TRUE(plan.TakeLoss(Direction::ToHost));
  EXPECT_FALSE(plan.TakeLoss(Direction::ToHost));
  EXPECT_FALSE(plan.TakeDuplicate(Direction::ToHost));
  EXPECT_TRUE(plan.TakeDuplicate(Direction::ToTracker));
  EXPECT_FALSE(plan.TakeDuplicate(Direction::ToTracker));
  EXPECT_EQ(plan.TakeBurstCorruption(Direction::ToHost), std::nullopt);
  EXPECT_EQ(plan.TakeBurstCorruption(Direction::ToTracker), BurstCorruption::Size);
  EXPECT_EQ(plan.TakeBurstCorruption(Direction::ToTracker), std::nullopt);
  EXPECT_FALSE(plan.TakeSearchTimeout());
  plan.ForceSearchTimeout();
  EXPECT_TRUE(plan.TakeSearchTimeout());
  EXPECT_FALSE(plan.TakeSearchTimeout());
}

TEST(FaultPlanCountersTest, ARefusalIsForItsMessageIdOnly) {
  FaultPlan plan;
  plan.RefuseCommand(0x42, 0x15, 2);
  EXPECT_EQ(plan.TakeRefusal(0x43), std::nullopt);
  EXPECT_EQ(plan.TakeRefusal(0x42), 0x15);
  EXPECT_EQ(plan.TakeRefusal(0x42), 0x15);
  EXPECT_EQ(plan.TakeRefusal(0x42), std::nullopt);
}

}  // namespace
}  // namespace Pellux
