#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/radio_engine_fixture.h"

namespace Pellux {
namespace {

BaseStationOptions WithSerial(std::uint32_t serial) {
  BaseStationOptions options;
  options.serialNumber = serial;
  return options;
}

// True when `wanted` appear in `lines` in this order (other lines may come between).
::testing::AssertionResult InOrder(const std::vector<std::string>& lines,
                                   const std::vector<std::string>& wanted) {
  std::size_t next = 0;
  for (const std::string& line : lines) {
    if (next < wanted.size() && line == wanted[next]) ++next;
  }
  if (next == wanted.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "missing or out of order: \"" << wanted[next] << "\"";
}

class ChannelTest : public RadioEngineTest {
 protected:
  void SetUp() override {
    RadioEngineTest::SetUp();
    // Most of these tests are about the channel alone: no tracker answers on it.
    station.Faults().SetTrackerInRange(false);
  }

  void OpenStandardChannel() {
    Act("init", "standard");
    ASSERT_TRUE(radio->IsChannelOpen());
  }
};

TEST_F(ChannelTest, DefaultConfigurationSendsEachStepAfterThePreviousAnswer) {
  Act("init", "standard");

  const std::vector<AntFrame> expected{
      {0x4A, {0x00}},    {0x46, {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {0x42, {0, 0, 0}}, {0x43, {0, 0x00, 0x10}},
      {0x45, {0, 2}},    {0x47, {0x00, 3}},
      {0x44, {0, 0xFF}}, {0x51, {0, 0xFF, 0xFF, 1, 1}},
      {0x4B, {0}},
  };
  EXPECT_EQ(station.HostMessages(), expected);
  EXPECT_TRUE(InOrder(ui.LogTexts(),
                      {"Initializing [baud: 50000, device: 0]... ",
                       "Initialized communication [VID: 0x10c4, PID: 0x84c4, SERIAL: 4021337].",
                       "Starting channel...",
                       "Resetting system...",
                       "Setting network key [network: 0]...",
                       "Network key set.",
                       "Assigning channel [channel: 0, type: 0, network: 0]...",
                       "Assigned channel.",
                       "Setting period [period: 4096]...",
                       "Message period set.",
                       "Setting frequency [frequency: 2]...",
                       "Frequency set.",
                       "Setting transmit power [power: 3]...",
                       "Transmit power set.",
                       "Setting 600 second search timeout [timeout: 255]...",
                       "Search timeout set.",
                       "Setting channel id [number: 65535, type: 1, transmission: 1]...",
                       "Channel id set.",
                       "Opening channel...",
                       "Channel opened."}));
  EXPECT_TRUE(radio->IsChannelOpen());
  EXPECT_EQ(radio->SearchSeconds(), 600);
  EXPECT_EQ(radio->RetryBudget(), 32);
  EXPECT_TRUE(manager->IsBaseStationInUse());
  EXPECT_EQ(manager->SerialInUse(), "4021337");
  EXPECT_EQ(station.Baud(), 50000U);
  // The module is given its half second after the reset.
  EXPECT_EQ(clock.TotalSlept(), std::chrono::milliseconds(500));
}

TEST_F(ChannelTest, SessionChannelSearchesForFiveSecondsWhateverTheAcquireTimeOut) {
  OpenStandardChannel();
  Radio([this] {
    radio->SetLinkState(LinkState::SessionSearch);
    radio->StartChannel();
  });
  Settle();
  EXPECT_TRUE(ui.HasLog("Setting 5 second search timeout [timeout: 255]..."));
  EXPECT_EQ(radio->SearchSeconds(), 5);
}

TEST_F(ChannelTest, StoredFrequencyIsTheOneConfigured) {
  ui.store.WriteNumber(kSettingsSection, "Frequency", 66);
  Radio([this] { manager->LoadSettings(); });
  Act("init", "standard");
  EXPECT_TRUE(ui.HasLog("Setting frequency [frequency: 66]..."));
  EXPECT_EQ(station.HostMessages().at(4), (AntFrame{0x45, {0, 66}}));
}

struct RefusedStep {
  std::uint8_t messageId;
  const char* failureText;
  const char* failureKey;
  bool consultsRetries;
};

class RefusedStepTest : public ChannelTest, public ::testing::WithParamInterface<RefusedStep> {};

TEST_P(RefusedStepTest, ReportsItsKeyEndsTheSessionAndTheNextSessionConfiguresAfresh) {
  const RefusedStep& step = GetParam();
  station.Faults().RefuseCommand(step.messageId, 0x28);
  Act("init", "standard");

  EXPECT_TRUE(ui.HasLog(step.failureText));
  EXPECT_EQ(ui.HasLog("Retries exhausted"), step.consultsRetries);
  EXPECT_TRUE(ui.HasLog(std::string("Disconnecting: ") + step.failureKey));
  // The refusal was used up: the next standard session configured the channel from a reset.
  EXPECT_EQ(CountHost(station, 0x4A), 2U);
  EXPECT_TRUE(radio->IsChannelOpen());
  EXPECT_TRUE(manager->IsActive());
}

INSTANTIATE_TEST_SUITE_P(
    EverySteps, RefusedStepTest,
    ::testing::Values(
        RefusedStep{0x46, "SetNetworkKey failed", "set_network_key_failed", false},
        RefusedStep{0x42, "Assign failed", "assign_failed", true},
        RefusedStep{0x43, "SetChannelPeriod failed", "set_period_failed", true},
        RefusedStep{0x45, "SetChannelRFFreq failed", "set_frequency_failed", true},
        RefusedStep{0x47, "SetTransmitPower failed", "set_transmit_power_failed", true},
        RefusedStep{0x44, "SetChannelSearchTimeout failed", "set_timeout_failed", true},
        RefusedStep{0x51, "SetId failed", "set_channel_id_failed", true},
        RefusedStep{0x4B, "OpenChannel failed", "open_channel_failed", true}));

TEST_F(ChannelTest, AfterAFatalErrorTheNextCloseResetsTheModuleInstead) {
  station.Faults().RefuseCommand(0x42, 0x28);
  Act("init", "standard");
  ASSERT_TRUE(radio->HasFatalError());

  Radio([this] { radio->CloseChannel(); });
  Settle();
  EXPECT_TRUE(ui.HasLog("There was a fatal error.  Performing a hard restart..."));
  EXPECT_EQ(CountHost(station, 0x4A), 3U);
  EXPECT_EQ(CountHost(station, 0x4C), 0U);
  EXPECT_FALSE(radio->HasFatalError());
  EXPECT_FALSE(radio->IsChannelOpen());
  // The close still completed for the session.
  EXPECT_TRUE(ui.HasLog("Session is still open. Waiting for instructions from server..."));

  // Only once: the next close is an ordinary one.
  Act("init", "standard");
  Radio([this] { radio->CloseChannel(); });
  Settle();
  EXPECT_EQ(CountHost(station, 0x4C), 1U);
}

class WrongStateTest : public ChannelTest,
                       public ::testing::WithParamInterface<std::pair<std::uint8_t, std::uint8_t>> {
};

TEST_P(WrongStateTest, ArmsTheTenSecondRestartInsteadOfReportingAKey) {
  const auto [messageId, code] = GetParam();
  // The first step is refused, before the idle timer is armed: the configuration stays stalled
  // for the ten seconds. (A later step would leave the idle time-out to end the session after
  // one ping interval; the next session's channel would open and the restart no longer be due.)
  station.Faults().RefuseCommand(messageId, code);
  Act("init", "standard");
  EXPECT_TRUE(ui.HasLog("Channel in wrong state or not opened! Attempting hard restart..."));
  EXPECT_FALSE(radio->HasFatalError());
  EXPECT_FALSE(ui.HasLog("Retries exhausted"));
  EXPECT_FALSE(radio->IsChannelOpen());

  // Every new session's reset of the module moves virtual time too; count from the answer.
  const auto answeredAt = clock.Now();
  while (clock.Now() - answeredAt < std::chrono::milliseconds(9875)) Advance(kChannelPeriod);
  EXPECT_FALSE(ui.HasLog("Shutting down..."));
  Advance(kChannelPeriod);
  EXPECT_TRUE(ui.HasLog("Shutting down..."));
  // The engine closed the base station and started over with a fresh standard session.
  EXPECT_TRUE(
      InOrder(ui.LogTexts(),
              {"Shutting down...", "Destroying channel...", "ANT closed.", "Destroyed channel.",
               "Initializing [baud: 50000, device: 0]... ", "Channel opened."}));
  EXPECT_TRUE(radio->IsChannelOpen());
  EXPECT_TRUE(manager->IsActive());
  EXPECT_TRUE(ui.Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(WrongStateCodes, WrongStateTest,
                         ::testing::Values(std::make_pair(std::uint8_t{0x46}, std::uint8_t{0x15}),
                                           std::make_pair(std::uint8_t{0x46}, std::uint8_t{0x16})));

TEST_F(ChannelTest, CloseWhileClosingSendsOneCloseAndAClosedChannelClosesAtOnce) {
  OpenStandardChannel();
  Radio([this] {
    radio->CloseChannel();
    radio->CloseChannel();
  });
  Settle();
  EXPECT_EQ(CountHost(station, 0x4C), 1U);
  EXPECT_EQ(ui.CountLog("Closing channel..."), 1U);
  EXPECT_TRUE(InOrder(ui.LogTexts(),
                      {"Closing channel...", "Close request acknowledged...", "Closed channel."}));
  EXPECT_FALSE(radio->IsChannelOpen());

  Radio([this] { radio->CloseChannel(); });
  EXPECT_EQ(ui.CountLog("Closed channel."), 2U);
  EXPECT_EQ(CountHost(station, 0x4C), 1U);
}

TEST_F(ChannelTest, BroadcastWhileClosingIsDroppedAndTheClosedEventHandled) {
  OpenStandardChannel();
  Radio([this] {
    radio->CloseChannel();
    AntMessage beacon{AntId::kBroadcastData, {0, 1, 2, 3, 4, 5, 6, 7, 8}};
    radio->ProcessAntMessage(beacon, 9);
    // Read under the lock: the pump may handle the closed event as soon as it is released.
    EXPECT_EQ(radio->GetLinkState(), LinkState::Searching);
  });
  EXPECT_TRUE(ui.HasLog("Waiting for close message -- ignoring incoming data"));
  Settle();
  EXPECT_TRUE(ui.HasLog("Closed channel."));
  EXPECT_FALSE(radio->IsClosing());
}

TEST_F(ChannelTest, ModuleMessagesOutOfPlaceAreLoggedAndDropped) {
  OpenStandardChannel();
  const auto inject = [this](AntFrame frame) {
    station.InjectMessage(frame);
    Settle();
  };
  inject({0x40, {0}});
  EXPECT_TRUE(ui.HasLog("Ignoring short ANT message 0x40 (1 bytes)"));
  inject({0x4E, {0, 1, 2}});
  EXPECT_TRUE(ui.HasLog("Ignoring short ANT message 0x4e (3 bytes)"));
  inject({0x99, {1, 2, 3}});
  inject({0x6F, {0x20}});
  EXPECT_TRUE(ui.HasLog("RESET command complete"));
  inject({0x6F, {0x01}});
  EXPECT_TRUE(ui.HasLog("Got some MESG_STARTUP_MESG"));
  inject({0x40, {0, 0x4F, 0x00}});
  EXPECT_TRUE(ui.HasLog("Unexpected acknowledgement:  success"));
  EXPECT_TRUE(ui.HasLog("Pending acks UNDERFLOW (FIX ME) -- anchored at 0."));
  EXPECT_EQ(radio->PendingAcknowledgements(), 0);
  inject({0x40, {0, 0x01, 0x02}});
  EXPECT_TRUE(ui.HasLog("Beacon failure"));
  // An event that names a data code has no data to read.
  inject({0x40, {0, 0x01, 0x9A}});
  EXPECT_TRUE(ui.HasLog("Ignoring channel event 0x9a without its data"));
  inject({0x40, {0, 0x01, 0x9C}});
  EXPECT_TRUE(ui.HasLog("Ignoring channel event 0x9c without its data"));
  EXPECT_EQ(radio->GetLinkState(), LinkState::Searching);
  EXPECT_TRUE(radio->IsChannelOpen());

  // A refused close on an open channel has no retries: the channel is taken as closed.
  inject({0x40, {0, 0x4C, 0x28}});
  EXPECT_TRUE(InOrder(ui.LogTexts(), {"Retries exhausted", "Forcing close...", "Closed channel."}));
  EXPECT_FALSE(radio->IsChannelOpen());
  inject({0x40, {0, 0x4C, 0x28}});
  EXPECT_TRUE(ui.HasLog("Close request rejected while channel is already closed. (ignoring)"));
  inject({0x40, {0, 0x01, 0x05}});
  EXPECT_TRUE(ui.HasLog("Received channel message while channel was supposedly closed!"));
}

TEST_F(ChannelTest, BadChecksumEndsThePumpAndTheWatchdogRelaunchesTheStation) {
  OpenStandardChannel();
  // A start-up message whose checksum byte is wrong.
  station.InjectBytes({0xA4, 0x01, 0x6F, 0x20, 0x00});
  Settle();
  EXPECT_TRUE(InOrder(ui.LogTexts(), {"ANT message pump error: WaitForMessage()",
                                      "Exiting ANT thread gracefully..."}));

  // The watchdog looks every 15 seconds from the opening: at 630 seconds the silence is not
  // yet over the limit, at 645 it is.
  Advance(std::chrono::seconds(631));
  EXPECT_TRUE(ui.Relaunches().empty());
  Advance(std::chrono::seconds(15));
  ASSERT_EQ(ui.Relaunches().size(), 1U);
  EXPECT_EQ(ui.Relaunches()[0].vendorId, kVendorId);
  EXPECT_EQ(ui.Relaunches()[0].productId, kProductId);
  EXPECT_TRUE(ui.HasLog(
      "[WATCHDOG] Communication manager has been idle for 645.00 seconds.  Restarting base "
      "station device [attempt #1]..."));
  EXPECT_EQ(manager->WatchdogAttempts(), 1);
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(manager->Mode(), "standard");
}

TEST_F(ChannelTest, AClosingThreadWaitsForAPumpThatWantsTheLock) {
  OpenStandardChannel();
  Radio([this] {
    // The pump takes this message and wants the lock we hold while we close the station.
    station.InjectMessage({0x6F, {0x20}});
    station.Settle();
    manager->DestroyChannel();
  });
  EXPECT_TRUE(ui.HasLog("Exited ANT thread gracefully."));
  EXPECT_FALSE(ui.HasLog("ANT thread did not exit gracefully after 3000ms. Terminating it..."));
  EXPECT_FALSE(radio->HasPumpThread());
  EXPECT_FALSE(radio->IsAntOpen());
}

TEST_F(ChannelTest, ClosingFromInsideAPumpHandlerLetsThePumpLeaveAndJoinsIt) {
  OpenStandardChannel();
  // The engine is shut down from inside the pump's handling of the channel-closed event, which
  // closes the base station on the pump thread itself.
  std::atomic<bool> shutDown{false};
  ui.onLog = [this, &shutDown](const std::string& line) {
    if (line == "Closed channel." && !shutDown.exchange(true)) manager->Shutdown();
  };
  Radio([this] { radio->CloseChannel(); });
  Settle();
  ASSERT_TRUE(shutDown.load());
  Radio([] {});  // the pump's handler has let go of the lock: it is done
  EXPECT_TRUE(ui.HasLog("Closing from the ANT thread: it exits once this message is handled."));
  EXPECT_FALSE(ui.HasLog("ANT thread did not exit gracefully after 3000ms. Terminating it..."));
  EXPECT_TRUE(ui.HasLog("Shutdown complete."));
  EXPECT_FALSE(radio->IsAntOpen());
  manager.reset();
  ui.onLog = nullptr;
  // The pump thread has been joined by now: its last line is in, and nothing logs after it.
  EXPECT_TRUE(ui.HasLog("Exiting ANT thread gracefully..."));
}

TEST_F(ChannelTest, StopAndRestartInsideOneEntryDoNotEndThePump) {
  // This engine's pump looks at the engine after every few milliseconds of silence, so that it
  // would notice a stop that lasts a moment.
  manager.reset();
  AntRadio::Timing timing = TestTiming();
  timing.pumpWaitMilliseconds = 5;
  AntRadio* quickRadio = nullptr;
  CommunicationManager engine(
      &ui,
      [&](RadioEvents& events) {
        auto made = std::make_unique<AntRadio>(events, ui, bus, clock, identifiers, timing);
        quickRadio = made.get();
        return made;
      },
      clock);
  const auto waitForOpenChannel = [&] {
    for (int attempt = 0; attempt < 2000; ++attempt) {
      bool open = false;
      engine.RunLocked([&] { open = quickRadio->IsChannelOpen(); });
      if (open) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  };
  engine.ProcessAction(0, "init", "standard", false, kNoContext);
  ASSERT_TRUE(waitForOpenChannel());

  engine.RunLocked([&] {
    // With no session active, the shutdown leaves the base station open; the restart of the
    // same entry configures it again.
    engine.ResetSession();
    engine.Shutdown();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    engine.StartSession("standard", kNoContext);
  });
  EXPECT_TRUE(waitForOpenChannel());
  EXPECT_FALSE(ui.HasLog("Exiting ANT thread gracefully..."));
}

TEST_F(ChannelTest, SearchExpiryOnItsWayWhenThePongCancelsItIsDropped) {
  OpenStandardChannel();
  Advance(std::chrono::milliseconds(599900));
  Radio([this] {
    // The search's deadline passes while the pump handles the PONG that completes the link.
    clock.Release(std::chrono::milliseconds(200));
    radio->SetLinkState(LinkState::Pinging);
    const std::vector<std::uint8_t> pong{0, 0x78, 0, 0, 0, 0, 0, 0, 0};
    radio->HandleChannelEvent(AntRadio::kAcknowledgedEvent, pong);
  });
  clock.Settle();
  Settle();
  EXPECT_TRUE(ui.HasLog("LINKED! [standard beacon]"));
  EXPECT_FALSE(ui.HasLog("Timed out waiting for beacon: 600 seconds"));
  EXPECT_EQ(radio->GetLinkState(), LinkState::Linked);
  EXPECT_EQ(CountHost(station, 0x4A), 1U);
}

TEST_F(ChannelTest, NoStationLeavesTheSessionWaitingAndTheNextAttemptPowerCyclesTheFamily) {
  station.Unplug(DSISerialCallback::kReadFailed);
  Act("init", "standard");
  EXPECT_TRUE(InOrder(ui.LogTexts(),
                      {"Initializing [baud: 50000, device: 255]... ", "Failed to find device",
                       "Failed to initialize communication [VID: 0x10c4, PID: 0x84c4]. Is the "
                       "base station plugged in?"}));
  EXPECT_EQ(bus.Restarts(), 0);
  EXPECT_TRUE(manager->IsActive());
  EXPECT_FALSE(manager->IsBaseStationInUse());

  // The list is still empty while the failed attempt's transport is left over.
  Act("init", "standard");
  EXPECT_EQ(bus.Restarts(), 1);
  EXPECT_EQ(bus.LastRestartIds(), (std::pair<std::uint16_t, std::uint16_t>{0x0FCF, 0x1004}));
}

TEST_F(ChannelTest, FindBaseStationTakesTheFirstCandidateWithBothIds) {
  VirtualBaseStation other(clock, WithSerial(99));
  VirtualDeviceBus twoStations;
  twoStations.Attach(other, kVendorId, 0x0001);
  twoStations.Attach(station, kVendorId, kProductId);
  AntRadio second(*manager, ui, twoStations, clock, identifiers, TestTiming());
  BaseStationCandidate found;
  EXPECT_EQ(second.FindBaseStation(kVendorId, kProductId, found), 1);
  EXPECT_EQ(found.serial, "4021337");
  EXPECT_EQ(found.device, "virtual base station 4021337");
  found = {};
  EXPECT_EQ(second.FindBaseStation(0x0FCF, 0x1008, found), AntRadio::kNoDevice);
  EXPECT_EQ(found.serial, "");
  EXPECT_EQ(found.device, "");
}

class TwoStationTest : public ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    bus.Attach(spare, kVendorId, kProductId);
    stations.push_back(&spare);
    spare.Faults().SetTrackerInRange(false);
  }

  VirtualBaseStation spare{clock, WithSerial(777)};
};

TEST_F(TwoStationTest, OnlyTheStationInUseCountsAndTheOtherTakesOverOnceItIsGone) {
  Act("init", "standard");
  Act("basestationconnect", "4021337");
  // The settle delay, and the module's reset in each of the two sessions.
  EXPECT_EQ(clock.TotalSlept(), std::chrono::milliseconds(500 + 1500 + 500));
  EXPECT_TRUE(radio->IsChannelOpen());
  EXPECT_EQ(manager->SerialInUse(), "4021337");
  EXPECT_TRUE(spare.HostMessages().empty());

  Act("basestationconnect", "777");
  EXPECT_TRUE(
      ui.HasLog("Unused base station has been plugged in with serial '777' -- in use '4021337'"));
  Act("basestationdisconnect", "777");
  EXPECT_TRUE(
      ui.HasLog("Unused base station has been unplugged with serial '777' -- in use '4021337'."));
  EXPECT_TRUE(radio->IsChannelOpen());

  station.Unplug(DSISerialCallback::kReadFailed);
  Act("basestationdisconnect", "4021337");
  EXPECT_FALSE(manager->IsActive());
  EXPECT_FALSE(radio->IsAntOpen());
  EXPECT_FALSE(radio->HasPumpThread());
  EXPECT_FALSE(manager->IsBaseStationInUse());

  Act("basestationconnect", "777");
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(manager->SerialInUse(), "777");
  EXPECT_TRUE(radio->IsChannelOpen());
  EXPECT_EQ(HostIds(spare),
            (std::vector<std::uint8_t>{0x4A, 0x46, 0x42, 0x43, 0x45, 0x47, 0x44, 0x51, 0x4B}));
}

// Pulling the plug at any moment must leave no thread behind and nothing half-closed; the
// sanitizer builds run these too.
class UnplugTest : public ChannelTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(UnplugTest, MidConfigurationTheStationClosesCleanly) {
  manager->ProcessAction(0, "init", "standard", false, kNoContext);
  station.Unplug(GetParam());
  Act("basestationdisconnect", "4021337");
  EXPECT_FALSE(radio->IsAntOpen());
  EXPECT_FALSE(radio->HasPumpThread());
  EXPECT_FALSE(manager->IsActive());

  station.Replug();
  Act("basestationconnect", "4021337");
  EXPECT_TRUE(radio->IsChannelOpen());
}

TEST_P(UnplugTest, WhileClosingTheStationClosesCleanly) {
  OpenStandardChannel();
  Radio([this] { radio->CloseChannel(); });
  station.Unplug(GetParam());
  Act("basestationdisconnect", "4021337");
  EXPECT_FALSE(radio->IsAntOpen());
  EXPECT_FALSE(radio->HasPumpThread());
  EXPECT_TRUE(ui.HasLog("ANT closed."));
}

TEST_P(UnplugTest, WithoutTheDisconnectActionThePumpStopsAndTheEngineLivesOn) {
  OpenStandardChannel();
  station.Unplug(GetParam());
  Settle();
  EXPECT_TRUE(ui.HasLog("Exiting ANT thread gracefully..."));
  EXPECT_TRUE(manager->IsActive());
  // Shutting the engine down still releases everything.
  Act("shutdown");
  EXPECT_FALSE(radio->IsAntOpen());
  EXPECT_FALSE(radio->HasPumpThread());
}

INSTANTIATE_TEST_SUITE_P(ErrorKinds, UnplugTest,
                         ::testing::Values(DSISerialCallback::kDeviceUnreadable,
                                           DSISerialCallback::kReadFailed));

}  // namespace
}  // namespace Pellux
