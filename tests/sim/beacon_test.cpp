#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "device/ant_message.h"
#include "station_fixture.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

using BeaconTest = StationTest;

TEST_F(BeaconTest, BeaconsAtTheChannelPeriodInVirtualTime) {
  OpenChannel();
  EXPECT_TRUE(Wait(124ms).empty());
  EXPECT_EQ(WithId(Wait(1ms), AntId::kBroadcastData).size(), 1u);
  EXPECT_TRUE(Wait(124ms).empty());
  EXPECT_EQ(WithId(Wait(1ms), AntId::kBroadcastData).size(), 1u);
  // 4096 / 32768 s: eight a second.
  const std::vector<AntFrame> second = Wait(1000ms);
  EXPECT_EQ(second.size(), 8u);
  EXPECT_EQ(WithId(second, AntId::kBroadcastData).size(), 8u);
}

TEST_F(BeaconTest, BeaconCarriesNoHostAndTheTrackerSerialBeforeALink) {
  BaseStationOptions options;
  options.tracker.serialNumber = 0x0A0B0C0D;
  Start(options);
  OpenChannel();
  const std::vector<AntFrame> beacons = Periods(1);
  ASSERT_EQ(beacons.size(), 1u);
  EXPECT_EQ(beacons[0], (AntFrame{AntId::kBroadcastData, {0, 0, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}}));
}

TEST_F(BeaconTest, FollowsAChangedPeriodOfAnOpenChannel) {
  OpenChannel();
  EXPECT_EQ(Periods(1).size(), 1u);
  // 8192: four a second, counted from the change.
  EXPECT_EQ(Command({AntId::kChannelPeriod, {0, 0x00, 0x20}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelPeriod, 0)});
  EXPECT_TRUE(Wait(249ms).empty());
  EXPECT_EQ(Wait(1ms).size(), 1u);
  EXPECT_EQ(Wait(1000ms).size(), 4u);
}

TEST_F(BeaconTest, KeepsAnUnevenPeriodWithoutDrift) {
  Command({AntId::kSystemReset, {0}});
  Command({AntId::kNetworkKey, {0, 0, 0, 0, 0, 0, 0, 0, 0}});
  Command({AntId::kAssignChannel, {0, 0, 0}});
  // 3277 / 32768 s is just over 100 ms: the 1000th period ends at 100.006 s, not at 100 s.
  Command({AntId::kChannelPeriod, {0, 0xCD, 0x0C}});
  Command({AntId::kRadioFrequency, {0, 2}});
  Command({AntId::kChannelId, {0, 0, 0, 0, 0}});
  Command({AntId::kOpenChannel, {0}});
  EXPECT_EQ(Wait(100000ms).size(), 999u);
  EXPECT_TRUE(Wait(5ms).empty());
  EXPECT_EQ(Wait(1ms).size(), 1u);
}

TEST_F(BeaconTest, IsHeardOnWildcardsAndOnTheTrackerDeviceNumberOnly) {
  BaseStationOptions options;
  options.tracker.searchDeviceNumber = 0xFFFE;
  Start(options);
  for (const std::uint16_t heard : std::vector<std::uint16_t>{0xFFFF, 0x0000, 0xFFFE}) {
    OpenChannel(heard);
    EXPECT_EQ(WithId(Periods(4), AntId::kBroadcastData).size(), 4u) << heard;
  }
  OpenChannel(0x1234);
  EXPECT_TRUE(Periods(16).empty());
}

TEST_F(BeaconTest, IsNotHeardOnASearchForAnotherSpecialBeacon) {
  OpenChannel(0xFFFE);
  EXPECT_TRUE(Periods(16).empty());
}

TEST_F(BeaconTest, NeedsTheTrackerFrequencyNetworkKeyDeviceTypeAndChannelType) {
  const auto openWith = [this](std::vector<AntFrame> sequence) {
    for (const AntFrame& step : sequence) {
      Command(step);
    }
    return WithId(Periods(4), AntId::kBroadcastData).size();
  };
  std::vector<AntFrame> sequence = ConfigurationSequence(0xFFFF);
  EXPECT_EQ(openWith(sequence), 4u);

  std::vector<AntFrame> otherFrequency = sequence;
  otherFrequency[4].data[1] = 66;
  EXPECT_EQ(openWith(otherFrequency), 0u);

  std::vector<AntFrame> otherKey = sequence;
  otherKey[1].data[1] = 0xB9;
  EXPECT_EQ(openWith(otherKey), 0u);

  std::vector<AntFrame> noKey = sequence;
  noKey.erase(noKey.begin() + 1);
  EXPECT_EQ(openWith(noKey), 0u);

  std::vector<AntFrame> otherType = sequence;
  otherType[7].data[3] = 2;
  EXPECT_EQ(openWith(otherType), 0u);

  std::vector<AntFrame> anyType = sequence;
  anyType[7].data[3] = 0;
  anyType[7].data[4] = 0;
  EXPECT_EQ(openWith(anyType), 4u);

  std::vector<AntFrame> masterChannel = sequence;
  masterChannel[2].data[1] = 0x10;
  EXPECT_EQ(openWith(masterChannel), 0u);
}

TEST_F(BeaconTest, ASearchRunsOutAfterTheTimeOutItWasGiven) {
  Station().Faults().SetTrackerInRange(false);
  std::vector<AntFrame> sequence = ConfigurationSequence(0xFFFF);
  sequence[6].data[1] = 2;  // 2 x 2.5 s
  for (const AntFrame& step : sequence) {
    Command(step);
  }
  EXPECT_TRUE(Wait(4875ms).empty());
  EXPECT_EQ(Periods(1), (std::vector<AntFrame>{EventFrame(0, AntEvent::kRxSearchTimeout),
                                               EventFrame(0, AntEvent::kChannelClosed)}));
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Assigned);
  EXPECT_TRUE(Wait(10s).empty());
}

TEST_F(BeaconTest, ASearchWithTimeOut255NeverRunsOut) {
  Station().Faults().SetTrackerInRange(false);
  OpenChannel();
  EXPECT_TRUE(Wait(60s).empty());
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Open);
  Station().Faults().SetTrackerInRange(true);
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
}

TEST_F(BeaconTest, EachOpenChannelHasItsOwnPeriod) {
  OpenChannel();
  Command({AntId::kAssignChannel, {1, 0, 0}});
  Command({AntId::kChannelPeriod, {1, 0x00, 0x40}});  // 16384: two a second
  Command({AntId::kRadioFrequency, {1, 2}});
  Command({AntId::kChannelId, {1, 0, 0, 0, 0}});
  Command({AntId::kOpenChannel, {1}});
  const std::vector<AntFrame> second = Wait(1000ms);
  std::size_t onZero = 0;
  std::size_t onOne = 0;
  for (const AntFrame& frame : WithId(second, AntId::kBroadcastData)) {
    (frame.data[0] == 0 ? onZero : onOne) += 1;
  }
  EXPECT_EQ(onZero, 8u);
  EXPECT_EQ(onOne, 2u);
}

}  // namespace
}  // namespace Pellux
