#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "device/ant_message.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_clock.h"
#include "station_fixture.h"
#include "test_host.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using Errors = std::vector<std::uint8_t>;

TEST(TransportSetupTest, OpensOnlyWithACallbackAtItsOwnPosition) {
  VirtualClock clock;
  TestHost host;
  BaseStationOptions options;
  options.devicePosition = 2;
  VirtualBaseStation station(clock, options);
  ASSERT_TRUE(station.Init(50000, 2));
  EXPECT_FALSE(station.Open());  // no callback
  station.SetCallback(&host);
  ASSERT_TRUE(station.Init(50000, 1));
  EXPECT_FALSE(station.Open());
  ASSERT_TRUE(station.AutoInit());
  EXPECT_EQ(station.GetDeviceNumber(), 2);
  EXPECT_EQ(station.Baud(), 50000u);
  EXPECT_TRUE(station.Open());
  EXPECT_FALSE(station.Open());  // already open
  EXPECT_TRUE(station.IsOpen());
}

TEST(TransportSetupTest, DescribesTheDeviceAndItsSerialNumberWhileOpen) {
  VirtualClock clock;
  TestHost host;
  BaseStationOptions options;
  options.serialNumber = 987654;
  options.productId = 0x1009;
  VirtualBaseStation station(clock, options);
  station.SetCallback(&host);
  std::string product;
  std::string serial;
  EXPECT_TRUE(station.GetDeviceUSBInfo(0, product, serial));
  EXPECT_EQ(product, "ANT USB Stick");
  EXPECT_EQ(serial, "987654");
  EXPECT_FALSE(station.GetDeviceUSBInfo(1, product, serial));

  std::uint16_t productId = 0;
  EXPECT_EQ(station.GetDeviceSerialNumber(), 0u);
  EXPECT_FALSE(station.GetDevicePID(productId));
  ASSERT_TRUE(station.Init(50000, 0));
  ASSERT_TRUE(station.Open());
  EXPECT_EQ(station.GetDeviceSerialNumber(), 987654u);
  EXPECT_TRUE(station.GetDevicePID(productId));
  EXPECT_EQ(productId, 0x1009);
  station.Close(false);
  EXPECT_EQ(station.GetDeviceSerialNumber(), 0u);
}

TEST(TransportSetupTest, AnUnpluggedStationCannotBeFoundOrOpened) {
  VirtualClock clock;
  TestHost host;
  VirtualBaseStation station(clock);
  station.SetCallback(&host);
  station.Unplug(DSISerialCallback::kDeviceUnreadable);
  EXPECT_FALSE(station.AutoInit());
  std::string product;
  std::string serial;
  EXPECT_FALSE(station.GetDeviceUSBInfo(0, product, serial));
  ASSERT_TRUE(station.Init(50000, 0));
  EXPECT_FALSE(station.Open());
  station.Replug();
  EXPECT_TRUE(station.Open());
  EXPECT_TRUE(host.Errors().empty());
}

using TransportTest = StationTest;

TEST_F(TransportTest, DeliversEveryByteOnItsOwnThread) {
  OpenChannel();
  Periods(4);
  EXPECT_TRUE(host_.CalledOnlyOnOneThreadOtherThan(std::this_thread::get_id()));
  EXPECT_EQ(host_.BadFrames(), 0u);
}

TEST_F(TransportTest, TakesAFrameWrittenOneByteAtATime) {
  const std::vector<std::uint8_t> bytes = AntFrame{AntId::kSystemReset, {0}}.Encode();
  for (const std::uint8_t byte : bytes) {
    ASSERT_TRUE(Station().WriteBytes(&byte, 1));
  }
  Station().Settle();
  EXPECT_EQ(host_.Take(), std::vector<AntFrame>{StartupFrame()});
}

TEST_F(TransportTest, NothingReachesTheHostAfterClose) {
  OpenChannel();
  Write({AntId::kChannelPeriod, {0, 0x00, 0x10}});
  Station().Close(false);
  host_.Take();
  EXPECT_EQ(clock_.PendingTimers(), 0u);
  clock_.Advance(10s);
  EXPECT_TRUE(host_.Take().empty());
  const std::uint8_t byte = 0;
  EXPECT_FALSE(Station().WriteBytes(&byte, 1));
  EXPECT_FALSE(Station().IsOpen());
  Station().Close(false);  // a second close does nothing
}

TEST_F(TransportTest, ReopeningFindsAFreshModule) {
  OpenChannel();
  Station().Close(false);
  ASSERT_TRUE(Station().Open());
  EXPECT_EQ(Command({AntId::kOpenChannel, {0}}),
            std::vector<AntFrame>{ResponseFrame(0, AntId::kOpenChannel, 0x15)});
  OpenChannel();
  EXPECT_EQ(WithId(Periods(1), AntId::kBroadcastData).size(), 1u);
}

TEST_F(TransportTest, AnUnreadableDeviceIsReportedOnEveryPollUntilClosed) {
  OpenChannel();
  Periods(1);
  Station().Unplug(DSISerialCallback::kDeviceUnreadable);
  Station().Settle();
  EXPECT_EQ(host_.Errors(), (Errors{1}));
  EXPECT_TRUE(Wait(999ms).empty());  // the radio died with the plug
  EXPECT_EQ(host_.Errors(), (Errors{1}));
  Wait(1ms);
  EXPECT_EQ(host_.Errors(), (Errors{1, 1}));
  Wait(3000ms);
  EXPECT_EQ(host_.Errors(), (Errors{1, 1, 1, 1, 1}));

  const std::vector<std::uint8_t> reset = AntFrame{AntId::kSystemReset, {0}}.Encode();
  EXPECT_FALSE(Station().WriteBytes(reset.data(), reset.size()));
  Station().Settle();
  EXPECT_EQ(host_.Errors().back(), DSISerialCallback::kWriteFailed);
  EXPECT_TRUE(host_.Take().empty());

  // Plugged back in, the open transport stays dead; a new opening works.
  Station().Replug();
  Wait(1000ms);
  EXPECT_EQ(host_.Errors().back(), DSISerialCallback::kDeviceUnreadable);
  Station().Close(false);
  const std::size_t reported = host_.Errors().size();
  clock_.Advance(5s);
  EXPECT_EQ(host_.Errors().size(), reported);
  ASSERT_TRUE(Station().Open());
  EXPECT_EQ(Command({AntId::kSystemReset, {0}}), std::vector<AntFrame>{StartupFrame()});
}

TEST_F(TransportTest, AFailedReadIsReportedOnceAndEndsAllDelivery) {
  OpenChannel();
  Station().Unplug(DSISerialCallback::kReadFailed);
  Station().Settle();
  EXPECT_EQ(host_.Errors(), (Errors{3}));
  const std::vector<std::uint8_t> reset = AntFrame{AntId::kSystemReset, {0}}.Encode();
  EXPECT_FALSE(Station().WriteBytes(reset.data(), reset.size()));
  EXPECT_TRUE(Wait(5s).empty());
  EXPECT_EQ(host_.Errors(), (Errors{3}));
}

TEST_F(TransportTest, WritersOnSeveralThreadsWhileTheRadioRuns) {
  OpenChannel();
  constexpr int kWriters = 4;
  constexpr int kFramesEach = 150;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([this] {
      const std::vector<std::uint8_t> power = AntFrame{AntId::kTransmitPower, {0, 2}}.Encode();
      for (int i = 0; i < kFramesEach; ++i) {
        EXPECT_TRUE(Station().WriteBytes(power.data(), power.size()));
      }
    });
  }
  std::vector<AntFrame> received;
  for (int i = 0; i < 40; ++i) {
    const std::vector<AntFrame> period = Periods(1);
    received.insert(received.end(), period.begin(), period.end());
  }
  for (std::thread& writer : writers) {
    writer.join();
  }
  Station().Settle();
  const std::vector<AntFrame> rest = host_.Take();
  received.insert(received.end(), rest.begin(), rest.end());
  EXPECT_EQ(WithId(received, AntId::kBroadcastData).size(), 40u);
  std::size_t answers = 0;
  for (const AntFrame& frame : WithId(received, AntId::kChannelResponse)) {
    EXPECT_EQ(frame, ResponseFrame(0, AntId::kTransmitPower, 0));
    ++answers;
  }
  EXPECT_EQ(answers, std::size_t{kWriters * kFramesEach});
  EXPECT_EQ(Station().HostMessages().size(), 9u + kWriters * kFramesEach);
  EXPECT_EQ(host_.BadFrames(), 0u);
}

TEST(TransportLifetimeTest, DestroyingAnOpenStationClosesIt) {
  VirtualClock clock;
  TestHost host;
  {
    VirtualBaseStation station(clock);
    station.SetCallback(&host);
    ASSERT_TRUE(station.Init(50000, 0));
    ASSERT_TRUE(station.Open());
    for (const AntFrame& step : ConfigurationSequence(0xFFFF)) {
      const std::vector<std::uint8_t> bytes = step.Encode();
      ASSERT_TRUE(station.WriteBytes(bytes.data(), bytes.size()));
    }
  }
  EXPECT_EQ(clock.PendingTimers(), 0u);
  clock.Advance(1s);
  EXPECT_EQ(host.BadFrames(), 0u);
}

}  // namespace
}  // namespace Pellux
