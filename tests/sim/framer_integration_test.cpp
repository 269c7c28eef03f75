#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "device/ant_message.h"
#include "device/dsi_framer_ant.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_clock.h"
#include "station_fixture.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// The station behind the production framer, as the engine opens it.
class FramerIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(framer_.Init());
    station_.SetCallback(&framer_);
    ASSERT_TRUE(station_.Init(50000, 0));
    ASSERT_TRUE(station_.Open());
  }
  void TearDown() override { station_.Close(false); }

  static AntMessage ToMessage(const AntFrame& frame) {
    AntMessage message;
    message.id = frame.id;
    std::copy(frame.data.begin(), frame.data.end(), message.data.begin());
    return message;
  }

  // Everything queued for the pump, without waiting.
  std::vector<AntFrame> Pump() {
    station_.Settle();
    std::vector<AntFrame> frames;
    while (framer_.WaitForMessage(0) != DSIFramer::kTimedOut) {
      AntMessage message;
      const std::uint16_t length = framer_.GetMessage(message, 0);
      if (length == DSIFramer::kFramerError) {
        frames.push_back(AntFrame{0xFF, {message.id, message.data[0]}});
        break;
      }
      frames.push_back(AntFrame{message.id, {message.data.begin(), message.data.begin() + length}});
    }
    return frames;
  }

  VirtualClock clock_;
  VirtualBaseStation station_{clock_};
  DSIFramerANT framer_{&station_};
};

TEST_F(FramerIntegrationTest, ConfiguresWithSendCommandAndClosesWithTheClosedEvent) {
  const std::vector<AntFrame> sequence = ConfigurationSequence(0xFFFF);
  ASSERT_TRUE(framer_.WriteMessage(ToMessage(sequence[0]), 1));
  for (std::size_t i = 1; i < sequence.size(); ++i) {
    EXPECT_TRUE(framer_.SendCommand(ToMessage(sequence[i]),
                                    static_cast<std::uint8_t>(sequence[i].data.size())))
        << i;
  }
  EXPECT_EQ(station_.HostMessages(), sequence);
  std::vector<AntFrame> pumped = Pump();
  ASSERT_EQ(pumped.size(), 9u);
  EXPECT_EQ(pumped[0], StartupFrame());
  EXPECT_EQ(pumped[8], ResponseFrame(0, AntId::kOpenChannel, 0));

  clock_.Advance(250ms);
  pumped = Pump();
  EXPECT_EQ(WithId(pumped, AntId::kBroadcastData).size(), 2u);

  EXPECT_TRUE(framer_.CloseChannelAndWait(0));
  pumped = Pump();
  EXPECT_EQ(pumped, (std::vector<AntFrame>{ResponseFrame(0, AntId::kCloseChannel, 0),
                                           EventFrame(0, AntEvent::kChannelClosed)}));
}

TEST_F(FramerIntegrationTest, ARefusedStepFailsSendCommandAndReachesThePump) {
  station_.Faults().RefuseCommand(AntId::kAssignChannel, AntResponse::kChannelInWrongState);
  EXPECT_FALSE(framer_.SendCommand(ToMessage({AntId::kAssignChannel, {0, 0, 0}}), 3));
  EXPECT_EQ(Pump(), std::vector<AntFrame>{ResponseFrame(0, AntId::kAssignChannel, 0x15)});
  EXPECT_FALSE(framer_.CloseChannelAndWait(0));
}

TEST_F(FramerIntegrationTest, AFailedReadEndsThePumpWithTheTransportError) {
  station_.Unplug(DSISerialCallback::kReadFailed);
  const std::vector<AntFrame> pumped = Pump();
  ASSERT_EQ(pumped.size(), 1u);
  EXPECT_EQ(pumped[0], (AntFrame{0xFF, {DSIFramerANT::kErrorReported, 3}}));
}

}  // namespace
}  // namespace Pellux
