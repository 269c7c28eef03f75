#include "session/communication_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/session/engine_fixture.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

// ---------------------------------------------------------------------------------------------
// Construction and destruction

TEST_F(EngineTest, StartsStoppedAndIdleAsTheProcessWideEngine) {
  EXPECT_TRUE(manager->IsStopped());
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_EQ(manager->SessionContext(), kNoContext);
  EXPECT_EQ(manager->PingInterval(), 4000);
  EXPECT_EQ(CommunicationManager::Instance(), manager.get());
}

TEST_F(EngineTest, DestructionShutsDownStopsTheLoopAndClearsTheInstance) {
  Act("init", "standard");
  ui.Clear();
  radio->ClearCalls();
  manager.reset();

  EXPECT_EQ(CommunicationManager::Instance(), nullptr);
  const int dealloc = ui.FindLog("Dealloc stop \n");
  const int shutdown = ui.FindLog("Shutting down...");
  const int after = ui.FindLog("After shutdown \n");
  const int before = ui.FindLog("Before stop \n");
  const int stopped = ui.FindLog("After stop \n");
  ASSERT_GE(dealloc, 0);
  EXPECT_LT(dealloc, shutdown);
  EXPECT_LT(shutdown, after);
  EXPECT_LT(after, before);
  EXPECT_LT(before, stopped);
  // A stopped engine destroys the channel instead of closing it, and starts nothing new.
  EXPECT_EQ(radioCalls->Count("DestroyChannel"), 1u);
  EXPECT_EQ(radioCalls->Count("CloseChannel"), 0u);
  EXPECT_EQ(radioCalls->Count("ReleaseBaseStation"), 1u);
  EXPECT_EQ(ui.CountLog("Starting session in standard mode..."), 0u);
}

#ifndef _WIN32
TEST(EngineDeathTest, RefusesToRunWithoutAUserInterface) {
  VirtualClock clock;
  const RadioFactory scripted = [](RadioEvents& events) {
    return std::make_unique<ScriptedRadioLink>(events);
  };
  EXPECT_DEATH(CommunicationManager(nullptr, scripted, clock), "needs a user interface");
}
#endif

// ---------------------------------------------------------------------------------------------
// The action gate and dispatch

TEST_F(EngineTest, StartActionMatchesOnlyTheExactNameInAnyCase) {
  Act("_startX");
  EXPECT_TRUE(manager->IsStopped());
  EXPECT_TRUE(ui.HasLog("Processing unknown message:  source[_startX] text[] error[false]"));

  Act("_START");
  EXPECT_FALSE(manager->IsStopped());
  EXPECT_FALSE(manager->IsActive());
  EXPECT_TRUE(ui.HasLog("Processing action '_START'..."));
}

TEST_F(EngineTest, UnknownActionIsLoggedWithItsFailureFlag) {
  manager->ProcessAction(0, "Frobnicate", "100% %s %n", true, kNoContext);
  EXPECT_TRUE(
      ui.HasLog("Processing unknown message:  source[Frobnicate] text[100% %s %n] error[true]"));
}

TEST_F(EngineTest, OutsideTextNeverActsAsAFormat) {
  Act("basestationconnect", "%s%n%x%%");
  EXPECT_TRUE(ui.HasLog("Base station with serial '%s%n%x%%' has been plugged in."));
  Act("%n%n%n");
  EXPECT_TRUE(ui.HasLog("Processing action '%n%n%n'..."));
}

TEST_F(EngineTest, ActionNamesAreMatchedWithoutRegardToCase) {
  Act("INIT", "standard");
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);
}

TEST_F(EngineTest, ForeignContextIsRefusedWhileAUserInterfaceSessionRuns) {
  Act("init", "setup", contextA);
  ASSERT_EQ(manager->SessionContext(), contextA);
  const auto requestsBefore = ui.Requests().size();

  Act("init", "setup", contextB);
  Act("form", "user=x", contextB);
  Act("finish", "", contextB);
  Act("init", "standard", kNoContext);

  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 3u);  // "finish" is refused silently
  for (const auto& error : errors) {
    EXPECT_EQ(error.keys, std::vector<std::string>{"kPXDaemonAlreadyRunning"});
    EXPECT_EQ(error.templateNumber, 0);
  }
  EXPECT_EQ(errors[0].context, contextB);
  EXPECT_EQ(errors[2].context, kNoContext);
  EXPECT_EQ(ui.CountLog("Ignoring request to process action 'finish' from unknown context"), 1u);
  EXPECT_EQ(ui.CountLog("Ignoring request to process action 'init' from unknown context"), 2u);
  EXPECT_EQ(manager->SessionContext(), contextA);
  EXPECT_EQ(manager->Mode(), "setup");
  EXPECT_EQ(ui.Requests().size(), requestsBefore);
  EXPECT_EQ(ui.CountLog("Received form input: user=x"), 0u);
}

TEST_F(EngineTest, DeviceShutdownAndRefreshActionsPassTheGateFromAnyContext) {
  Act("init", "setup", contextA);
  Act("refresh", "settings", contextB);
  EXPECT_TRUE(ui.HasLog("Restoring client settings..."));
  Act("basestationconnect", "S1", contextB);
  EXPECT_TRUE(ui.HasLog("Base station with serial 'S1' has been plugged in."));
  Act("basestationdisconnect", "S1", contextB);
  EXPECT_TRUE(ui.HasLog("Base station with serial 'S1' has been unplugged."));
  Act("shutdown", "", contextB);
  EXPECT_TRUE(manager->IsStopped());
  EXPECT_TRUE(ui.Errors().empty());
}

TEST_F(EngineTest, OwnerOfTheSessionIsServedAndFinishReturnsToStandard) {
  Act("init", "setup", contextA);
  Act("finish", "", contextA);
  // The setup session posted at once; its channel was never open, so the restart is immediate.
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_EQ(manager->SessionContext(), kNoContext);
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);
}

// ---------------------------------------------------------------------------------------------
// Session life cycle

TEST_F(EngineTest, StandardSessionStartsByAcquiringWithTheStandardBeacon) {
  Act("init", "standard");

  EXPECT_TRUE(manager->IsActive());
  EXPECT_FALSE(manager->IsStopped());
  const ServerResponse first = manager->Current();
  EXPECT_EQ(first.origin, "local");
  EXPECT_EQ(first.action, "acquire");
  EXPECT_EQ(first.beaconType, "standard");
  EXPECT_EQ(first.responder, "respondnoerror");
  EXPECT_EQ(first.host, kDefaultServerHost);
  EXPECT_EQ(first.port, 8001);
  EXPECT_EQ(first.path, "/device/tracker/uploadData");
  EXPECT_EQ(first.pingInterval, 4000);
  EXPECT_EQ(first.sleepPeriod, 15);
  EXPECT_EQ(manager->SessionBeaconType(), "standard");
  EXPECT_THAT(radio->Calls(),
              ElementsAre("SetRetryBudget 32", "SetSearchDeviceNumber 65535", "OpenCommunication"));
  EXPECT_TRUE(ui.Requests().empty());

  const int start = ui.FindLog("Starting session in standard mode...");
  ASSERT_GE(start, 0);
  EXPECT_LT(start, ui.FindLog("Processing request..."));
}

TEST_F(EngineTest, UserInterfaceModePostsAtOnceWithoutTouchingTheRadio) {
  Act("init", "Standard", contextA);  // the mode is compared case-sensitively

  EXPECT_EQ(manager->Mode(), "Standard");
  EXPECT_EQ(manager->Current().origin, "server");
  EXPECT_TRUE(manager->Current().action.empty());
  EXPECT_EQ(radio->Count("OpenCommunication"), 0u);
  const auto requests = ui.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].request.body, Identity("Standard"));
  EXPECT_EQ(requests[0].request.requestNumber, 1u);
  EXPECT_EQ(requests[0].context, contextA);
  EXPECT_EQ(manager->CurrentRequestId(), 1u);
  EXPECT_EQ(manager->SessionContext(), contextA);
}

TEST_F(EngineTest, AnotherModeStartsOnlyAfterTheActiveSessionClosedItsChannel) {
  Act("init", "standard");
  ASSERT_TRUE(radio->channelOpen);
  radio->ClearCalls();

  Act("init", "setup", kNoContext);
  EXPECT_TRUE(manager->IsRestarting());
  EXPECT_FALSE(manager->IsActive());
  EXPECT_TRUE(ui.HasLog("Ending active session and restarting in setup mode..."));
  EXPECT_THAT(radio->Calls(), ElementsAre("ResetChannel", "CloseChannel"));
  EXPECT_TRUE(ui.Requests().empty());

  radio->FinishClose();
  EXPECT_FALSE(manager->IsRestarting());
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(manager->Mode(), "setup");
  ASSERT_EQ(ui.Requests().size(), 1u);
  EXPECT_EQ(ui.Requests()[0].request.body, Identity("setup"));
}

TEST_F(EngineTest, RestartKeepsTheContextOfTheUserInterfaceThatAskedForIt) {
  Act("init", "standard");
  Act("init", "setup", contextA);
  EXPECT_TRUE(manager->IsRestarting());
  radio->FinishClose();
  EXPECT_EQ(manager->SessionContext(), contextA);
  ASSERT_EQ(ui.Requests().size(), 1u);
  EXPECT_EQ(ui.Requests()[0].context, contextA);
}

TEST_F(EngineTest, StandardAgainWhileStandardRunsRestartsAfterTheClose) {
  Act("init", "standard");
  Act("init", "standard");
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);
  EXPECT_FALSE(manager->IsActive());
  radio->FinishClose();
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 2u);
  EXPECT_EQ(ui.CountLog("Starting session in standard mode..."), 3u);
}

TEST_F(EngineTest, EndedSessionIsFollowedByAFreshStandardSession) {
  StartLinkedStandardSession();
  ASSERT_EQ(ui.Requests().size(), 1u);
  manager->RunLocked([this] { manager->EndSession(); });
  EXPECT_TRUE(ui.HasLog("Ending session..."));
  EXPECT_EQ(radio->Count("CloseChannel"), 1u);
  EXPECT_FALSE(manager->IsActive());

  // Back to searching once closed, so the continuation starts the next session.
  radio->FinishClose();
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 2u);
}

TEST_F(EngineTest, ContinuationWaitsWhileTheLinkMovesToTheSessionChannel) {
  Act("init", "standard");
  radio->linkState = LinkState::LinkSent;
  manager->RunLocked([this] { manager->EndSession(); });
  radio->linkState = LinkState::LinkSent;
  radio->FinishClose();
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);
}

TEST_F(EngineTest, ShutdownDestroysTheChannelAndStartsNothing) {
  Act("init", "standard");
  radio->ClearCalls();
  Act("shutdown");

  EXPECT_TRUE(manager->IsStopped());
  EXPECT_FALSE(manager->IsActive());
  EXPECT_THAT(radio->Calls(), ElementsAre("ResetChannel", "DestroyChannel"));
  const std::vector<std::string> expected = {"Shutting down...", "! idle timer is canceled...",
                                             "! Going to start EndSession...", "Ending session..."};
  int at = 0;
  for (const auto& line : expected) {
    const int found = ui.FindLog(line, at);
    ASSERT_GE(found, at) << line;
    at = found;
  }

  // A second shutdown does nothing; a late continuation only reports completion.
  Act("shutdown");
  EXPECT_EQ(ui.CountLog("Shutting down..."), 1u);
  manager->ContinueSession();
  EXPECT_TRUE(ui.HasLog("Shutdown complete."));
  EXPECT_FALSE(manager->IsActive());
}

TEST_F(EngineTest, ResetSessionRestoresTheDefaultPingIntervalAndForgetsTheContext) {
  Act("init", "setup", contextA);
  ServerResponse next = Instruction("command");
  next.pingInterval = 9000;
  manager->ProcessRequest(next);
  ASSERT_EQ(manager->PingInterval(), 9000);
  manager->ResetSession();
  EXPECT_EQ(manager->PingInterval(), 4000);
  EXPECT_EQ(manager->SessionContext(), kNoContext);
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_FALSE(manager->IsActive());
}

// ---------------------------------------------------------------------------------------------
// Server answers

TEST_F(EngineTest, AnswersOnlyForTheAwaitedRequestAreRead) {
  StartLinkedStandardSession();
  ASSERT_EQ(manager->CurrentRequestId(), 1u);
  const std::string doc =
      "<p><response host=\"srv\" path=\"/next\"/><device action=\"command\"/></p>";

  Answer(0, doc);
  Answer(2, doc);
  EXPECT_TRUE(ui.HasLog("Ignoring unexpected HTTP response [0]."));
  EXPECT_TRUE(ui.HasLog("Ignoring unexpected HTTP response [2]."));
  EXPECT_EQ(ui.CountLog("Processing request..."), 1u);

  Answer(1, doc);
  // The answer became the instruction; it had nothing to run, so the next request went out.
  EXPECT_EQ(manager->Current().action, "command");
  ASSERT_EQ(ui.Requests().size(), 2u);
  EXPECT_EQ(ui.Requests()[1].request.requestNumber, 2u);
  EXPECT_EQ(ui.Requests()[1].request.host, "srv");
  EXPECT_EQ(ui.Requests()[1].request.port, 80);

  // A duplicate of the old answer is late now.
  Answer(1, doc);
  EXPECT_EQ(ui.CountLog("Processing request..."), 2u);
}

// The answer to the one request posted so far arrives after its session ended.
class LateAnswerTest : public EngineTest {
 protected:
  void AnswerTheEndedSession() {
    ASSERT_EQ(ui.Requests().size(), 1u);
    const std::uint32_t number = ui.Requests()[0].request.requestNumber;
    const std::string actionBefore = manager->Current().action;
    Answer(number, "<p><response host=\"srv\" path=\"/late\"/><device action=\"command\"/></p>",
           false, ui.Requests()[0].context);
    EXPECT_TRUE(ui.HasLog("Ignoring unexpected HTTP response [" + std::to_string(number) + "]."));
    EXPECT_EQ(manager->Current().action, actionBefore);
    EXPECT_EQ(ui.Requests().size(), 1u);
  }
};

TEST_F(LateAnswerTest, AfterAFinishedUserInterfaceSessionDoesNotReplaceTheAcquire) {
  Act("init", "setup", contextA);
  Act("finish", "", contextA);  // a standard session acquires in its place
  ASSERT_EQ(manager->Current().action, "acquire");
  AnswerTheEndedSession();
}

TEST_F(LateAnswerTest, AfterAnUnplugIsNotActedOn) {
  StartLinkedStandardSession();
  Act("basestationdisconnect", "SCRIPTED-1");
  ASSERT_FALSE(manager->IsActive());
  AnswerTheEndedSession();
}

TEST_F(EngineTest, RequestPreparedForAnEndedSessionIsNeverSent) {
  StartLinkedStandardSession();
  radio->channelOpen = true;
  ServerResponse instruction = Instruction("command");
  instruction.responder = "respondalways";
  instruction.remoteOps.push_back(Operation(1));
  manager->ProcessRequest(instruction);
  // The link drops during the operation: the results wait for the channel to close.
  Radio([this] { manager->OnCommandResult("idle_timeout", true, true); });
  ASSERT_TRUE(manager->HasPendingRequest());

  // A user interface asks for the engine before the close completes.
  Act("init", "setup", contextA);
  radio->FinishClose();
  const auto requests = ui.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].context, contextA);
  EXPECT_EQ(requests[1].request.body, Identity("setup"));
}

TEST_F(EngineTest, FailedRequestInStandardModeShowsNothingAndStartsAgain) {
  StartLinkedStandardSession();
  Answer(1, "", true);
  EXPECT_TRUE(ui.HasLog("Connection to server failed."));
  EXPECT_TRUE(ui.Errors().empty());
  EXPECT_FALSE(manager->IsActive());
  radio->FinishClose();
  EXPECT_TRUE(manager->IsActive());
  EXPECT_EQ(manager->Mode(), "standard");
}

TEST_F(EngineTest, FailedRequestOfAUserInterfaceSessionIsShownToItsCaller) {
  Act("init", "setup", contextA);
  Answer(1, "ignored body", true, contextA);
  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonConnectionFailed"});
  EXPECT_EQ(errors[0].context, contextA);
  // The channel was never open: the next standard session starts at once.
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_TRUE(manager->IsActive());
}

TEST_F(EngineTest, NewInstructionDropsAPreparedRequestUnsent) {
  StartLinkedStandardSession();
  manager->ProcessRequest(Instruction("close"));  // linked: the tracker sleeps first
  ASSERT_TRUE(manager->HasPendingRequest());
  manager->ProcessRequest(Instruction("acquire"));
  EXPECT_FALSE(manager->HasPendingRequest());
  EXPECT_EQ(ui.Requests().size(), 1u);
}

TEST_F(EngineTest, PreparedRequestIsSentOnceTheChannelHasClosed) {
  StartLinkedStandardSession();
  manager->ProcessRequest(Instruction("close"));
  ASSERT_TRUE(manager->HasPendingRequest());
  ASSERT_EQ(ui.Requests().size(), 1u);

  Radio([this] { radio->CloseChannel(); });
  radio->FinishClose();
  EXPECT_TRUE(ui.HasLog("Session is still open. Waiting for instructions from server..."));
  ASSERT_EQ(ui.Requests().size(), 2u);
  EXPECT_EQ(ui.Requests()[1].request.requestNumber, manager->CurrentRequestId());
  EXPECT_FALSE(manager->HasPendingRequest());
  // The session is still active: no new session was started.
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);
}

TEST_F(EngineTest, InstructionWithoutHostClosesTheSession) {
  StartLinkedStandardSession();
  radio->linkState = LinkState::Searching;  // the tracker is gone already
  Answer(1, "<p><device action=\"close\"/></p>");
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(radio->Count("CloseChannel"), 1u);
  EXPECT_EQ(ui.Requests().size(), 1u);
  EXPECT_FALSE(ui.HasLog("Closing: received non-close action [close] with no response host"));
}

TEST_F(EngineTest, CloseWithoutHostPutsALinkedTrackerToSleepFirst) {
  StartLinkedStandardSession();
  Answer(1, "<p><device action=\"close\" sleepPeriod=\"3600\"/></p>");
  EXPECT_TRUE(manager->IsActive());
  EXPECT_TRUE(manager->IsCloseRequested());
  EXPECT_EQ(radio->linkState, LinkState::Unlinking);
  ASSERT_EQ(radio->Queued().size(), 1u);
  EXPECT_EQ(radio->Queued()[0].header, (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 240}));
  EXPECT_EQ(radio->Queued()[0].failureMessage, "UNLINK request packet failed to be transmitted");
  EXPECT_TRUE(ui.HasLog("Commanding tracker to sleep for 3600 seconds..."));
  EXPECT_EQ(ui.Requests().size(), 1u);
}
// ---------------------------------------------------------------------------------------------
// Instructions

TEST_F(EngineTest, PingIntervalAndSleepPeriodRules) {
  Act("init", "setup", contextA);
  ServerResponse given = Instruction("command");
  given.pingInterval = 2500;
  given.sleepPeriod = 44;
  manager->ProcessRequest(given);
  EXPECT_EQ(manager->PingInterval(), 2500);
  EXPECT_EQ(manager->Current().sleepPeriod, 44);

  manager->ProcessRequest(Instruction("command"));  // -1 keeps what is in use
  EXPECT_EQ(manager->PingInterval(), 2500);
  EXPECT_EQ(manager->Current().pingInterval, 2500);
  EXPECT_EQ(manager->Current().sleepPeriod, 15);

  ServerResponse negative = Instruction("command");
  negative.pingInterval = -7;
  manager->ProcessRequest(negative);
  EXPECT_EQ(manager->PingInterval(), 4000);
}

TEST_F(EngineTest, InstructionRestoresTheRetryBudgetAndClearsOutcomeFlags) {
  Act("init", "setup", contextA);
  ServerResponse failing = Instruction("command");
  failing.responder = "respondalways";
  failing.remoteOps.push_back(Operation(1));
  radio->channelOpen = true;
  manager->ProcessRequest(failing);
  Radio([this] { manager->OnCommandResult("fail", false, false); });
  Radio([this] { manager->OnCommandResult("ping_timeout", true, true); });
  ASSERT_TRUE(manager->HasCommandFailed());
  ASSERT_TRUE(manager->IsDisconnected());
  manager->ProcessRequest(Instruction("command"));
  EXPECT_FALSE(manager->HasCommandFailed());
  EXPECT_FALSE(manager->IsDisconnected());
  EXPECT_EQ(radio->Count("SetRetryBudget 32"), 3u);  // one for each instruction
  EXPECT_EQ(radio->Count("SetRetryBudget 3"), 1u);   // the command's own while it is sent
}

TEST_F(EngineTest, SpecialBeaconSearchesForItsOwnDeviceNumber) {
  Act("init", "setup", contextA);
  ServerResponse acquire = Instruction("acquire");
  acquire.beaconType = "special";
  manager->ProcessRequest(acquire);
  EXPECT_EQ(radio->searchDeviceNumber, 0xFFFE);
  EXPECT_EQ(manager->SessionBeaconType(), "special");
  EXPECT_EQ(radio->Count("OpenCommunication"), 1u);

  acquire.beaconType = "SPECIAL";
  manager->ProcessRequest(acquire);
  EXPECT_EQ(radio->searchDeviceNumber, 0xFFFF);
}

TEST_F(EngineTest, OnlyTheExactAcquireActionOpensTheRadio) {
  Act("init", "setup", contextA);
  manager->ProcessRequest(Instruction("Acquire"));
  EXPECT_EQ(radio->Count("OpenCommunication"), 0u);
  EXPECT_EQ(ui.Requests().size(), 2u);  // posted at once, as any other action
}

TEST_F(EngineTest, DialogHoldsThePostUntilTheMinimumDisplayTimeIsOver) {
  Act("init", "setup", contextA);
  radio->channelOpen = true;
  ServerResponse dialog = Instruction("command");
  dialog.dialogContent = "<p>hi</p>";
  dialog.minDisplayTime = 3000;
  dialog.remoteOps.push_back(Operation(1));
  manager->ProcessRequest(dialog);
  ASSERT_TRUE(manager->IsWaitingMinDisplay());

  clock.Advance(1000ms);
  Radio([this] { manager->OnCommandResult("success", false, false); });  // finished early
  EXPECT_TRUE(manager->IsPostDeferred());
  EXPECT_TRUE(ui.HasLog("Waiting for minimum display time to elapse [3000ms]..."));
  const auto before = ui.Requests().size();
  clock.Advance(1999ms);
  EXPECT_EQ(ui.Requests().size(), before);
  clock.Advance(1ms);
  EXPECT_FALSE(manager->IsWaitingMinDisplay());
  EXPECT_FALSE(manager->IsPostDeferred());
  EXPECT_EQ(ui.Requests().size(), before + 1);
}

TEST_F(EngineTest, ElapsedDisplayTimeWithoutDeferredPostSendsNothing) {
  Act("init", "setup", contextA);
  radio->channelOpen = true;
  ServerResponse dialog = Instruction("command");
  dialog.dialogContent = "<p>hi</p>";
  dialog.minDisplayTime = 1000;
  dialog.remoteOps.push_back(Operation(1));
  manager->ProcessRequest(dialog);
  clock.Advance(5s);
  EXPECT_FALSE(manager->IsWaitingMinDisplay());
  EXPECT_EQ(ui.Requests().size(), 1u);  // only the one from "init"
}

TEST_F(EngineTest, CancelledDisplayTimerNeverPosts) {
  Act("init", "setup", contextA);
  radio->channelOpen = true;
  ServerResponse dialog = Instruction("command");
  dialog.dialogContent = "<p>hi</p>";
  dialog.minDisplayTime = 1000;
  dialog.remoteOps.push_back(Operation(1));
  manager->ProcessRequest(dialog);
  manager->ResetSession();  // cancels the timer
  clock.Advance(5s);
  EXPECT_EQ(ui.Requests().size(), 1u);
}

TEST_F(EngineTest, CancelledDisplayTimeDoesNotCutTheNextDialogShort) {
  Act("init", "setup", contextA);
  ServerResponse first = Instruction("command");
  first.dialogContent = "<p>1</p>";
  first.minDisplayTime = 3000;
  manager->ProcessRequest(first);
  ServerResponse second = first;
  second.dialogContent = "<p>2</p>";
  second.minDisplayTime = 5000;
  manager->ProcessRequest(second);  // the first wait is cancelled
  clock.Settle();                   // and its handler has run
  EXPECT_TRUE(manager->IsWaitingMinDisplay());
  clock.Advance(4999ms);
  EXPECT_EQ(ui.Requests().size(), 1u);
  clock.Advance(1ms);
  EXPECT_EQ(ui.Requests().size(), 2u);
}

TEST_F(EngineTest, DialogWithoutPositiveDisplayTimeDoesNotWait) {
  Act("init", "setup", contextA);
  ServerResponse dialog = Instruction("command");
  dialog.dialogContent = "<p>hi</p>";
  dialog.minDisplayTime = 0;
  manager->ProcessRequest(dialog);
  EXPECT_FALSE(manager->IsWaitingMinDisplay());
  EXPECT_EQ(clock.PendingTimers(), 0u);
}

TEST_F(EngineTest, FormInputIsPostedUnchanged) {
  Act("init", "setup", contextA);
  ServerResponse withForm = Instruction("command");
  withForm.containsForm = true;
  manager->ProcessRequest(withForm);
  const std::string form = std::string("a=100%25&b=%s\0c", 15);
  Act("form", form, contextA);
  ASSERT_EQ(ui.Requests().size(), 2u);
  EXPECT_EQ(ui.Requests()[1].request.body, form + "&" + Identity("setup"));
}

TEST_F(EngineTest, FormInputIsTakenOnlyOnceForTheFormOfTheCurrentInstruction) {
  const std::string ignored = "Ignoring form input: no form is awaited.";
  // No session at all, then a standard beacon search: nothing asks for a form.
  Act("form", "x=1", contextB);
  Act("init", "standard");
  Act("form", "x=1", contextB);
  Act("form", "x=1");
  EXPECT_EQ(ui.CountLog(ignored), 3u);
  EXPECT_TRUE(ui.Requests().empty());

  // A user interface session whose instruction holds a form takes one submission.
  Act("init", "setup", contextA);
  radio->FinishClose();
  ASSERT_EQ(ui.Requests().size(), 1u);
  ServerResponse withForm = Instruction("command");
  withForm.containsForm = true;
  manager->ProcessRequest(withForm);
  EXPECT_TRUE(ui.HasLog("Waiting for form input..."));
  Act("form", "user=me", contextA);
  Act("form", "user=me", contextA);
  const auto requests = ui.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].request.body, "user=me&" + Identity("setup"));
  EXPECT_EQ(ui.CountLog(ignored), 4u);
}

// ---------------------------------------------------------------------------------------------
// Threads

TEST_F(EngineTest, ConcurrentActionsAndTimersAreSerialised) {
  Act("init", "standard");
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < 50; ++i) {
        switch ((t + i) % 4) {
          case 0:
            Act("init", "standard");
            break;
          case 1:
            radio->FinishClose();
            break;
          case 2:
            Act("refresh");
            break;
          default:
            Answer(static_cast<std::uint32_t>(i), "", true);
            break;
        }
      }
    });
  }
  go = true;
  for (int i = 0; i < 20; ++i) clock.Advance(1s);
  for (auto& thread : threads) thread.join();
  Act("shutdown");
  EXPECT_TRUE(manager->IsStopped());
  EXPECT_FALSE(manager->IsActive());
}

}  // namespace
}  // namespace Pellux
