#include <gtest/gtest.h>

#include <vector>

#include "device/ant_message.h"
#include "sim/virtual_ant_module.h"
#include "station_fixture.h"

namespace Pellux {
namespace {

using ModuleConfigurationTest = StationTest;

TEST_F(ModuleConfigurationTest, AnswersTheHostSequenceAndRecordsItAsSent) {
  const std::vector<AntFrame> sequence = ConfigurationSequence(0xFFFF);
  for (const AntFrame& step : sequence) {
    Write(step);
  }
  Station().Settle();
  const std::vector<AntFrame> expected{
      StartupFrame(),
      ResponseFrame(0, AntId::kNetworkKey, 0),
      ResponseFrame(0, AntId::kAssignChannel, 0),
      ResponseFrame(0, AntId::kChannelPeriod, 0),
      ResponseFrame(0, AntId::kRadioFrequency, 0),
      ResponseFrame(0, AntId::kTransmitPower, 0),
      ResponseFrame(0, AntId::kSearchTimeout, 0),
      ResponseFrame(0, AntId::kChannelId, 0),
      ResponseFrame(0, AntId::kOpenChannel, 0),
  };
  EXPECT_EQ(host_.Take(), expected);
  EXPECT_EQ(Station().HostMessages(), sequence);
  EXPECT_TRUE(Station().RejectedFrames().empty());

  const AntChannel channel = Station().Channel(kChannel);
  EXPECT_EQ(channel.state, AntChannel::State::Open);
  EXPECT_EQ(channel.period, 4096);
  EXPECT_EQ(channel.frequency, 2);
  EXPECT_EQ(channel.searchTimeout, 0xFF);
  EXPECT_EQ(channel.deviceNumber, 0xFFFF);
  EXPECT_EQ(channel.deviceType, 1);
  EXPECT_EQ(channel.transmissionType, 1);
  EXPECT_EQ(Station().TransmitPower(), 3);
}

TEST_F(ModuleConfigurationTest, AcceptsSeveralFramesInOneWrite) {
  std::vector<std::uint8_t> bytes;
  for (const AntFrame& step : ConfigurationSequence(0x1234)) {
    const std::vector<std::uint8_t> frame = step.Encode();
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    bytes.insert(bytes.end(), {0, 0});
  }
  ASSERT_TRUE(Station().WriteBytes(bytes.data(), bytes.size()));
  Station().Settle();
  EXPECT_EQ(host_.Take().size(), 9u);
  EXPECT_EQ(Station().Channel(kChannel).deviceNumber, 0x1234);
}

TEST_F(ModuleConfigurationTest, RefusesCommandsOnAnUnassignedChannel) {
  Command({AntId::kSystemReset, {0}});
  EXPECT_EQ(Command({AntId::kOpenChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kOpenChannel, 0x15)});
  EXPECT_EQ(Command({AntId::kChannelPeriod, {0, 0x00, 0x10}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelPeriod, 0x15)});
  EXPECT_EQ(Command({AntId::kChannelId, {0, 0xFF, 0xFF, 1, 1}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelId, 0x15)});
  EXPECT_EQ(Command({AntId::kCloseChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kCloseChannel, 0x15)});
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Unassigned);
}

TEST_F(ModuleConfigurationTest, RefusesToCloseAChannelThatIsNotOpen) {
  Command({AntId::kSystemReset, {0}});
  Command({AntId::kAssignChannel, {0, 0, 0}});
  EXPECT_EQ(Command({AntId::kCloseChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kCloseChannel, 0x16)});
  EXPECT_EQ(Command({AntId::kAcknowledgedData, {0, 1, 2, 3, 4, 5, 6, 7, 8}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kAcknowledgedData, 0x16)});
}

TEST_F(ModuleConfigurationTest, RefusesToAssignTwiceOrToChangeTheIdOfAnOpenChannel) {
  OpenChannel();
  EXPECT_EQ(Command({AntId::kAssignChannel, {0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kAssignChannel, 0x15)});
  EXPECT_EQ(Command({AntId::kChannelId, {0, 1, 0, 1, 1}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelId, 0x15)});
  EXPECT_EQ(Command({AntId::kOpenChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kOpenChannel, 0x15)});
  EXPECT_EQ(Station().Channel(kChannel).deviceNumber, 0xFFFF);
}

TEST_F(ModuleConfigurationTest, ClosesAnOpenChannelWithResponseAndClosedEvent) {
  OpenChannel();
  CloseChannel();
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Assigned);
  // A closed channel keeps its assignment: it may be configured and opened again.
  EXPECT_EQ(Command({AntId::kChannelId, {0, 0x34, 0x12, 1, 1}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelId, 0)});
  EXPECT_EQ(Command({AntId::kOpenChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kOpenChannel, 0)});
}

TEST_F(ModuleConfigurationTest, ResetForgetsEveryChannelAndNetworkKey) {
  OpenChannel();
  EXPECT_EQ(Command({AntId::kSystemReset, {0}}), std::vector<AntFrame>{StartupFrame()});
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Unassigned);
  // The open channel went away without a closed event, and without any radio traffic.
  EXPECT_TRUE(Periods(8).empty());
  EXPECT_EQ(Command({AntId::kOpenChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kOpenChannel, 0x15)});
}

TEST_F(ModuleConfigurationTest, AnswersMalformedAndUnknownMessagesAsInvalid) {
  constexpr std::uint8_t kInvalid = VirtualAntModule::kInvalidMessage;
  EXPECT_EQ(Command({AntId::kAssignChannel, {0, 0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kAssignChannel, kInvalid)});
  EXPECT_EQ(Command({AntId::kAssignChannel, {8, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(8, AntId::kAssignChannel, kInvalid)});
  EXPECT_EQ(Command({0x7E, {3}}), std::vector<AntFrame>{ResponseFrame(3, 0x7E, kInvalid)});
  EXPECT_EQ(Command({AntId::kNetworkKey, {8, 0, 0, 0, 0, 0, 0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(8, AntId::kNetworkKey, kInvalid)});
  EXPECT_EQ(Command({AntId::kAssignChannel, {0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kAssignChannel, 0)});
  EXPECT_EQ(Command({AntId::kChannelPeriod, {0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelPeriod, kInvalid)});
  EXPECT_EQ(Station().Channel(kChannel).period, AntChannel::kDefaultPeriod);
}

TEST_F(ModuleConfigurationTest, IgnoresFramesWithABadChecksumAndRecordsThem) {
  std::vector<std::uint8_t> bytes = AntFrame{AntId::kSystemReset, {0}}.Encode();
  bytes.back() ^= 0x01;
  ASSERT_TRUE(Station().WriteBytes(bytes.data(), bytes.size()));
  Station().Settle();
  EXPECT_TRUE(host_.Take().empty());
  EXPECT_TRUE(Station().HostMessages().empty());
  EXPECT_EQ(Station().RejectedFrames(), std::vector<std::vector<std::uint8_t>>{bytes});
}

TEST_F(ModuleConfigurationTest, RefusesAScriptedStepWithItsCodeAndLeavesItUndone) {
  Station().Faults().RefuseCommand(AntId::kAssignChannel, AntResponse::kChannelInWrongState);
  Command({AntId::kSystemReset, {0}});
  EXPECT_EQ(Command({AntId::kAssignChannel, {0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kAssignChannel, 0x15)});
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Unassigned);
  // The refusal was for one attempt only.
  EXPECT_EQ(Command({AntId::kAssignChannel, {0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kAssignChannel, 0)});
}

TEST_F(ModuleConfigurationTest, RefusesAStepAsOftenAsScripted) {
  Station().Faults().RefuseCommand(AntId::kChannelPeriod, AntResponse::kChannelNotOpened, 2);
  Command({AntId::kSystemReset, {0}});
  Command({AntId::kAssignChannel, {0, 0, 0}});
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Command({AntId::kChannelPeriod, {0, 0x00, 0x10}}),
              std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelPeriod, 0x16)});
  }
  EXPECT_EQ(Command({AntId::kChannelPeriod, {0, 0x00, 0x10}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kChannelPeriod, 0)});
  EXPECT_EQ(Station().Channel(kChannel).period, 4096);
}

TEST_F(ModuleConfigurationTest, ARefusedNetworkKeyOrPowerIsAnsweredWithItsFirstByte) {
  Station().Faults().RefuseCommand(AntId::kNetworkKey, 0x29);
  Station().Faults().RefuseCommand(AntId::kTransmitPower, 0x15);
  EXPECT_EQ(Command({AntId::kNetworkKey, {1, 0, 0, 0, 0, 0, 0, 0, 0}}),
            std::vector<AntFrame>{ResponseFrame(1, AntId::kNetworkKey, 0x29)});
  EXPECT_EQ(Command({AntId::kTransmitPower, {0, 1}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kTransmitPower, 0x15)});
  EXPECT_EQ(Station().TransmitPower(), 3);
}

TEST_F(ModuleConfigurationTest, ARefusedCloseLeavesTheChannelOpenWithoutAnEvent) {
  OpenChannel();
  Station().Faults().RefuseCommand(AntId::kCloseChannel, AntResponse::kChannelInWrongState);
  EXPECT_EQ(Command({AntId::kCloseChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kCloseChannel, 0x15)});
  EXPECT_EQ(Station().Channel(kChannel).state, AntChannel::State::Open);
  CloseChannel();
}

TEST_F(ModuleConfigurationTest, ARefusedOpenLeavesTheChannelClosedAndQuiet) {
  Station().Faults().RefuseCommand(AntId::kOpenChannel, AntResponse::kChannelInWrongState);
  const std::vector<AntFrame> sequence = ConfigurationSequence(0xFFFF);
  for (std::size_t i = 0; i + 1 < sequence.size(); ++i) {
    Command(sequence[i]);
  }
  EXPECT_EQ(Command(sequence.back()),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kOpenChannel, 0x15)});
  EXPECT_TRUE(Periods(4).empty());
}

}  // namespace
}  // namespace Pellux
