#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/session/engine_fixture.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST_F(EngineTest, PlugInWhileStoppedOnlyRemembersTheBaseStation) {
  Act("basestationconnect", "ABC");
  EXPECT_TRUE(manager->IsBaseStationInUse());
  EXPECT_EQ(manager->SerialInUse(), "ABC");
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(clock.TotalSlept(), 0ms);
}

TEST_F(EngineTest, PlugInSettlesThenStartsAStandardSession) {
  Act("_start");
  Act("basestationconnect", "ABC");
  EXPECT_EQ(clock.TotalSlept(), 1500ms);
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);
}

TEST_F(EngineTest, SecondBaseStationIsIgnoredAndTheSameOneRestartsTheSession) {
  Act("init", "standard");  // the scripted radio opens "SCRIPTED-1"
  ASSERT_EQ(manager->SerialInUse(), "SCRIPTED-1");

  Act("basestationconnect", "OTHER");
  EXPECT_TRUE(ui.HasLog(
      "Unused base station has been plugged in with serial 'OTHER' -- in use 'SCRIPTED-1'"));
  EXPECT_EQ(manager->SerialInUse(), "SCRIPTED-1");
  EXPECT_EQ(clock.TotalSlept(), 0ms);

  Act("basestationconnect", "scripted-1");
  EXPECT_EQ(manager->SerialInUse(), "scripted-1");
  EXPECT_FALSE(manager->IsActive());  // the running session ends first
  EXPECT_TRUE(manager->IsRestarting());
  radio->FinishClose();
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 2u);
}

TEST_F(EngineTest, PlugInDuringAUserInterfaceAcquireOpensTheRadioAgain) {
  Act("init", "setup", contextA);
  radio->openSucceeds = false;
  manager->ProcessRequest(Instruction("acquire"));
  ASSERT_FALSE(manager->IsBaseStationInUse());
  radio->openSucceeds = true;

  Act("basestationconnect", "NEW", contextB);
  EXPECT_EQ(radio->Count("OpenCommunication"), 2u);
  EXPECT_EQ(manager->Mode(), "setup");
  EXPECT_EQ(manager->SessionContext(), contextA);
}

TEST_F(EngineTest, PlugInDuringAUserInterfaceExchangeChangesNothing) {
  Act("init", "setup", contextA);
  Act("basestationconnect", "NEW");
  EXPECT_EQ(radio->Count("OpenCommunication"), 0u);
  EXPECT_EQ(manager->Mode(), "setup");
}

TEST_F(EngineTest, UnplugOfTheBaseStationInUseResetsWithoutARestart) {
  Act("init", "standard");
  radio->ClearCalls();
  Act("basestationdisconnect", "scripted-1");
  EXPECT_FALSE(manager->IsActive());
  EXPECT_FALSE(manager->IsBaseStationInUse());
  EXPECT_TRUE(manager->SerialInUse().empty());
  EXPECT_EQ(radio->Count("DestroyChannel"), 1u);
  EXPECT_TRUE(ui.Errors().empty());
  clock.Advance(1h);
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 0u);
}

TEST_F(EngineTest, UnplugDuringAUserInterfaceSessionWithOpenChannelTellsTheUser) {
  Act("init", "setup", contextA);
  manager->ProcessRequest(Instruction("acquire"));
  ASSERT_TRUE(radio->channelOpen);
  Act("basestationdisconnect", "SCRIPTED-1");
  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonStationUnPlugged"});
  EXPECT_EQ(errors[0].context, contextA);
  EXPECT_FALSE(manager->IsActive());
}

TEST_F(EngineTest, UnplugOfAnotherBaseStationOnlyLogs) {
  Act("basestationdisconnect", "X");
  EXPECT_TRUE(ui.HasLog(
      "Unused base station has been unplugged with serial 'X' -- no base station in use."));
  Act("init", "standard");
  Act("basestationdisconnect", "Y");
  EXPECT_TRUE(
      ui.HasLog("Unused base station has been unplugged with serial 'Y' -- in use 'SCRIPTED-1'."));
  EXPECT_TRUE(manager->IsActive());
}

TEST_F(EngineTest, WatchdogFiresAfterMoreThanTheIdleLimitInStandardMode) {
  ui.store.WriteNumber("Tracker", "VID", 0x0FCF);
  ui.store.WriteNumber("Tracker", "PID", 0x1004);
  Act("refresh");
  Act("init", "standard");
  // 630 s of silence is still tolerated; the check after it, at 645 s, fires.
  clock.Advance(630s);
  EXPECT_TRUE(ui.Relaunches().empty());
  clock.Advance(15s);
  const auto relaunches = ui.Relaunches();
  ASSERT_EQ(relaunches.size(), 1u);
  EXPECT_EQ(relaunches[0].vendorId, 0x0FCF);
  EXPECT_EQ(relaunches[0].productId, 0x1004);
  EXPECT_TRUE(
      ui.HasLog("[WATCHDOG] Communication manager has been idle for 645.00 seconds.  Restarting "
                "base station device [attempt #1]..."));
}

TEST(WatchdogResolutionTest, SilenceIsMeasuredInWholeSecondsOnBothSides) {
  // The engine's clock starts half a second into a second: a stamp kept in whole seconds and
  // a "now" read to the millisecond would make the silence look half a second longer.
  VirtualClock clock(std::chrono::system_clock::time_point(std::chrono::seconds(1767225600)) +
                     500ms);
  RecordingUserInterface ui;
  CommunicationManager manager(
      &ui, [](RadioEvents& events) { return std::make_unique<ScriptedRadioLink>(events); }, clock);
  manager.ProcessAction(0, "init", "standard", false, kNoContext);
  manager.OnRadioActivity();
  clock.Advance(630s);
  EXPECT_TRUE(ui.Relaunches().empty());
  clock.Advance(15s);
  EXPECT_EQ(ui.Relaunches().size(), 1u);
  EXPECT_TRUE(
      ui.HasLog("[WATCHDOG] Communication manager has been idle for 645.00 seconds.  Restarting "
                "base station device [attempt #1]..."));
}

TEST(WatchdogIdleLimitTest, AnEngineBuiltWithAnotherLimitRelaunchesAtTheFirstCheckPastIt) {
  // The checks come every 15 s after the base station opened; the first one that finds the
  // silence longer than the limit relaunches, and none before it.
  struct Row {
    std::chrono::seconds limit;
    std::chrono::seconds firesAt;
  };
  const Row rows[] = {
      {1s, 15s},    {20s, 30s},   {30s, 45s},  // a silence of exactly the limit is still tolerated
      {629s, 630s}, {630s, 645s},              // the engine's own limit, given explicitly
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "limit " << row.limit.count() << " s");
    VirtualClock clock;
    RecordingUserInterface ui;
    CommunicationManager manager(
        &ui, [](RadioEvents& events) { return std::make_unique<ScriptedRadioLink>(events); }, clock,
        row.limit);
    manager.ProcessAction(0, "init", "standard", false, kNoContext);
    manager.OnRadioActivity();
    clock.Advance(row.firesAt - 1s);
    EXPECT_TRUE(ui.Relaunches().empty());
    clock.Advance(1s);
    EXPECT_EQ(ui.Relaunches().size(), 1u);
    EXPECT_TRUE(ui.HasLog(FormatLine("[WATCHDOG] Communication manager has been idle for "
                                     "%d.00 seconds.  Restarting base station device [attempt "
                                     "#1]...",
                                     row.firesAt.count())
                              .str()));
  }
}

TEST_F(EngineTest, WatchdogIsQuietWhileTheRadioTalks) {
  Act("init", "standard");
  for (int i = 0; i < 100; ++i) {
    clock.Advance(15s);
    manager->OnRadioActivity();
  }
  EXPECT_TRUE(ui.Relaunches().empty());
}

TEST_F(EngineTest, WatchdogOnlyRearmsOutsideStandardMode) {
  Act("init", "setup", contextA);
  manager->ProcessRequest(Instruction("acquire"));
  clock.Advance(2h);
  EXPECT_TRUE(ui.Relaunches().empty());
  EXPECT_EQ(clock.PendingTimers(), 1u);
}

TEST_F(EngineTest, WatchdogStopsArmingAfterFourFiringsWithoutAnOpening) {
  Act("init", "standard");
  radio->openSucceeds = false;  // the relaunched sessions find no base station
  for (int i = 0; i < 4; ++i) {
    manager->RunLocked([this] { manager->ArmWatchdog(); });
    clock.Advance(700s);
    radio->FinishClose();
  }
  EXPECT_EQ(ui.Relaunches().size(), 4u);
  EXPECT_EQ(manager->WatchdogAttempts(), 4);
  manager->RunLocked([this] { manager->ArmWatchdog(); });
  EXPECT_EQ(manager->WatchdogAttempts(), 0);
  clock.Advance(2h);
  EXPECT_EQ(ui.Relaunches().size(), 4u);
}

TEST_F(EngineTest, CommunicationErrorRestartsTheEngineAndTellsTheUser) {
  Act("init", "setup", contextA);
  manager->ProcessRequest(Instruction("acquire"));
  manager->OnChannelInWrongState();
  clock.Advance(9999ms);
  EXPECT_TRUE(ui.Errors().empty());
  clock.Advance(1ms);
  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonCommunicationError"});
  EXPECT_EQ(errors[0].context, contextA);
  EXPECT_TRUE(ui.HasLog("Shutting down..."));
  EXPECT_TRUE(manager->IsActive());
  EXPECT_FALSE(manager->IsStopped());
  EXPECT_EQ(manager->Mode(), "standard");
}

TEST_F(EngineTest, ShutdownCancelsAPendingCommunicationErrorRestart) {
  Act("init", "standard");
  manager->OnChannelInWrongState();
  Act("shutdown");
  clock.Advance(1h);
  EXPECT_TRUE(manager->IsStopped());
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(ui.CountLog("Starting session in standard mode..."), 1u);
}

// A standard session is closing its channel so that user interface A's session can start; then
// something else restarts the engine first.
class PendingSessionTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    Act("init", "standard");
    Act("init", "setup", contextA);
    ASSERT_TRUE(manager->IsRestarting());
    ASSERT_FALSE(manager->IsActive());
  }

  // A's session runs: it posted its first request to A.
  void ExpectTheSessionOfA() {
    EXPECT_EQ(manager->Mode(), "setup");
    EXPECT_EQ(manager->SessionContext(), contextA);
    ASSERT_FALSE(ui.Requests().empty());
    EXPECT_EQ(ui.Requests().back().context, contextA);
    EXPECT_TRUE(ui.Errors().empty());
  }

  void ExpectAToHearOfTheError() {
    const auto errors = ui.Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonCommunicationError"});
    EXPECT_EQ(errors[0].context, contextA);
    EXPECT_EQ(manager->Mode(), "standard");
    EXPECT_FALSE(manager->IsRestarting());
  }
};

TEST_F(PendingSessionTest, EngineRestartTellsTheWaitingUserInterface) {
  const std::vector<std::pair<const char*, std::function<void()>>> restarts{
      {"communication error",
       [this] {
         manager->OnChannelInWrongState();
         clock.Advance(10s);
       }},
      {"watchdog",
       [this] {
         clock.Advance(645s);
         EXPECT_EQ(ui.Relaunches().size(), 1u);
       }},
  };
  for (const auto& [name, restart] : restarts) {
    SCOPED_TRACE(name);
    SetUp();
    ui.Clear();
    restart();
    ExpectAToHearOfTheError();
  }
}

TEST_F(PendingSessionTest, PlugInOrUnplugStartsTheWaitingSession) {
  // An unplug destroys the channel, so no close would ever end in the continuation.
  for (const char* action : {"basestationconnect", "basestationdisconnect"}) {
    SCOPED_TRACE(action);
    SetUp();
    ui.Clear();
    Act(action, "SCRIPTED-1");
    ExpectTheSessionOfA();
  }
}

TEST_F(PendingSessionTest, AnotherUserInterfaceCannotTakeThePromisedEngine) {
  Act("init", "other", contextB);
  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonAlreadyRunning"});
  EXPECT_EQ(errors[0].context, contextB);
  ui.Clear();
  radio->FinishClose();
  ExpectTheSessionOfA();
}

TEST_F(EngineTest, DestroyedChannelStopsTheWatchdog) {
  Act("init", "standard");
  manager->RunLocked([this] { manager->DestroyChannel(); });
  EXPECT_TRUE(manager->SessionBeaconType().empty());
  clock.Advance(2h);
  EXPECT_TRUE(ui.Relaunches().empty());
}

}  // namespace
}  // namespace Pellux
