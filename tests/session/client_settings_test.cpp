#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/session/engine_fixture.h"

namespace Pellux {
namespace {

using ::testing::ElementsAre;

constexpr const char* kTracker = "Tracker";

TEST_F(EngineTest, FirstLoadWritesEveryDefaultInTableOrder) {
  EXPECT_THAT(
      ui.SettingWrites(),
      ElementsAre(std::string("ServerHost=") + kDefaultServerHost, "ServerPort=8001",
                  "ServerPath=/device/tracker/uploadData",
                  std::string("ErrorHost=") + kDefaultServerHost, "ErrorPort=8001",
                  "ErrorPath=/device/tracker/errors", "Frequency=2", "VID=4292", "PID=33988",
                  "ClientVersion=1.2", "ChannelRetries=32", "PingInterval=4000", "SleepPeriod=15"));
  EXPECT_EQ(ui.store.Count(kTracker), 13u);
  const ClientSettings settings = manager->Settings();
  EXPECT_EQ(settings.osName, "TestOS 1.0");
  EXPECT_EQ(settings.clientId, "client-0001");
}

class StoredSettingsTest : public EngineTest {
 protected:
  void SetUp() override {}  // each test fills the store before building the engine
};

TEST_F(StoredSettingsTest, StoredValuesAreUsedAndNotWrittenBack) {
  ui.store.WriteText(kTracker, "ServerHost", "example.org");
  ui.store.WriteNumber(kTracker, "ServerPort", 80);
  ui.store.WriteNumber(kTracker, "ChannelRetries", 5);
  ui.store.WriteNumber(kTracker, "SleepPeriod", 30);
  Build();
  const ClientSettings settings = manager->Settings();
  EXPECT_EQ(settings.serverHost, "example.org");
  EXPECT_EQ(settings.serverPort, 80);
  EXPECT_EQ(settings.channelRetries, 5);
  EXPECT_EQ(settings.sleepPeriod, 30);
  for (const auto& write : ui.SettingWrites()) {
    EXPECT_NE(write.rfind("ServerHost=", 0), 0u) << write;
    EXPECT_NE(write.rfind("ServerPort=", 0), 0u) << write;
  }
}

TEST_F(StoredSettingsTest, ValueOfTheWrongTypeIsReplacedByTheDefault) {
  ui.store.WriteText(kTracker, "ServerPort", "80");
  ui.store.WriteNumber(kTracker, "ServerPath", 7);
  Build();
  EXPECT_EQ(manager->Settings().serverPort, 8001);
  EXPECT_EQ(ui.store.ReadNumber(kTracker, "ServerPort"), 8001u);
  EXPECT_EQ(ui.store.ReadText(kTracker, "ServerPath"), "/device/tracker/uploadData");
}

TEST_F(StoredSettingsTest, NarrowSettingsKeepTheLowBits) {
  ui.store.WriteNumber(kTracker, "Frequency", 0x166);
  ui.store.WriteNumber(kTracker, "VID", 0x123456);
  ui.store.WriteNumber(kTracker, "PID", 0xFFFF0001);
  Build();
  const ClientSettings settings = manager->Settings();
  EXPECT_EQ(settings.frequency, 0x66);
  EXPECT_EQ(settings.vendorId, 0x3456);
  EXPECT_EQ(settings.productId, 0x0001);
  // What is stored stays as the administrator wrote it.
  EXPECT_EQ(ui.store.ReadNumber(kTracker, "VID"), 0x123456u);
}

TEST_F(StoredSettingsTest, EmptyTextAndAllOnesCountAsNotSet) {
  ui.store.WriteText(kTracker, "ServerHost", "");
  ui.store.WriteNumber(kTracker, "ErrorPort", 0xFFFFFFFF);
  Build();
  EXPECT_EQ(manager->Settings().serverHost, kDefaultServerHost);
  EXPECT_EQ(manager->Settings().errorPort, 8001);
  EXPECT_EQ(ui.store.ReadText(kTracker, "ServerHost"), kDefaultServerHost);
  EXPECT_EQ(ui.store.ReadNumber(kTracker, "ErrorPort"), 8001u);
}

TEST_F(StoredSettingsTest, NegativeNumbersOtherThanMinusOneAreKept) {
  ui.store.WriteNumber(kTracker, "SleepPeriod", static_cast<std::uint32_t>(-2));
  Build();
  EXPECT_EQ(manager->Settings().sleepPeriod, -2);
}

TEST_F(EngineTest, RefreshRestoresADeletedValueWithTheValueInUse) {
  ui.store.WriteText(kTracker, "ServerHost", "first.example");
  ui.store.WriteNumber(kTracker, "ServerPort", 81);
  Act("refresh", "settings");
  ASSERT_EQ(manager->Settings().serverHost, "first.example");

  ui.store.Erase(kTracker, "ServerHost");
  ui.store.Erase(kTracker, "ServerPort");
  Act("refresh", "settings");
  EXPECT_EQ(manager->Settings().serverHost, "first.example");
  EXPECT_EQ(ui.store.ReadText(kTracker, "ServerHost"), "first.example");
  EXPECT_EQ(ui.store.ReadNumber(kTracker, "ServerPort"), 81u);
}

TEST_F(EngineTest, NewServerEndpointTakesEffectAtTheNextSessionStart) {
  ui.store.WriteText(kTracker, "ServerHost", "moved.example");
  Act("init", "setup", contextA);
  EXPECT_EQ(ui.Requests().back().request.host, kDefaultServerHost);
  Act("refresh", "settings", contextA);
  Act("finish", "", contextA);
  Act("init", "setup", contextA);
  // "finish" started a standard session, whose radio channel has to close first.
  radio->FinishClose();
  EXPECT_EQ(ui.Requests().back().request.host, "moved.example");
}

TEST_F(EngineTest, StoredPingIntervalAppliesOnlyAfterARefreshInsideASession) {
  Act("init", "setup", contextA);
  ui.store.WriteNumber(kTracker, "PingInterval", 2000);
  Act("refresh", "settings", contextA);
  EXPECT_EQ(manager->PingInterval(), 2000);
  manager->ProcessRequest(Instruction("command"));  // no pingInterval of its own
  EXPECT_EQ(manager->Current().pingInterval, 2000);

  Act("finish", "", contextA);
  EXPECT_EQ(manager->PingInterval(), 4000);
  EXPECT_EQ(manager->Current().pingInterval, 4000);
}

TEST_F(EngineTest, InstructionsPingIntervalIsNeverWrittenBackAsTheSetting) {
  ui.store.WriteNumber(kTracker, "PingInterval", 3000);
  Act("refresh");
  Act("init", "setup", contextA);
  ServerResponse fast = Instruction("command");
  fast.pingInterval = 250;
  manager->ProcessRequest(fast);
  ASSERT_EQ(manager->PingInterval(), 250);

  ui.store.Erase(kTracker, "PingInterval");
  Act("refresh", "", contextA);
  EXPECT_EQ(ui.store.ReadNumber(kTracker, "PingInterval"), 3000u);
  EXPECT_EQ(manager->Settings().pingInterval, 3000);
  // The instruction's interval stays in use until the next instruction or session.
  EXPECT_EQ(manager->PingInterval(), 250);
}

}  // namespace
}  // namespace Pellux
