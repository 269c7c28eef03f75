#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/base64.h"
#include "server/form_escape.h"
#include "session/password_masking.h"
#include "tests/session/engine_fixture.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

std::vector<std::uint8_t> Status(std::uint8_t code, std::uint8_t tag) {
  return {static_cast<std::uint8_t>(0x40 | code), tag, 0, 0, 0, 0, 0};
}

std::string OpXml(std::uint8_t tag) {
  return "<remoteOp><opCode>" + Base64Encode(std::vector<std::uint8_t>{0x41, tag, 0, 0, 0, 0, 0}) +
         "</opCode></remoteOp>";
}

// "opResponse[n]=<base64 of bytes>&opStatus[n]=<status>" as the body carries them.
std::string Result(int index, const std::vector<std::uint8_t>& bytes, const std::string& status) {
  const std::string n = std::to_string(index);
  return "opResponse%5b" + n + "%5d=" + FormEscape(Base64Encode(bytes)) + "&opStatus%5b" + n +
         "%5d=" + FormEscape(status);
}

// A user interface session ("setup", context A) whose first request was answered with an
// instruction; the radio channel is open and the tracker linked.
class RemoteOperationsTest : public EngineTest {
 protected:
  void Instruct(const std::string& remoteOps, const std::string& extra = "",
                const std::string& device = "action=\"command\"") {
    Act("init", "setup", contextA);
    radio->channelOpen = true;
    radio->linkState = LinkState::Linked;
    ui.Clear();
    radio->ClearCalls();
    Answer(1,
           "<p><response host=\"srv\" path=\"/next\">sid=9</response>" + extra + "<device " +
               device + ">" + remoteOps + "</device></p>",
           false, contextA);
  }
  void Outcome(const std::string& status, bool error = false, bool disconnect = false,
               std::vector<std::uint8_t> data = {}) {
    Radio([&] { manager->OnCommandResult(status, error, disconnect, data); });
  }
  std::vector<std::string> QueuedHeaders() const {
    std::vector<std::string> headers;
    for (const auto& packet : radio->Queued()) headers.push_back(HexBytes(packet.header));
    return headers;
  }
  std::vector<RecordingUserInterface::RequestEntry> Posts() const { return ui.Requests(); }
};

constexpr const char* kTail = "&sid=9";

// ---------------------------------------------------------------------------------------------
// Error handlers

TEST_F(RemoteOperationsTest, ExecuteTillErrorAbandonsWhatFollowsAFail) {
  Instruct("<remoteOps responder=\"respondAlways\">" + OpXml(1) + OpXml(2) + OpXml(3) +
           "</remoteOps>");
  EXPECT_THAT(QueuedHeaders(), ElementsAre("0x41, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00"));
  EXPECT_EQ(radio->Queued()[0].failureMessage, "Failed to send command");
  EXPECT_TRUE(ui.HasLog("Sending command: 0x41, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00"));

  // The first operation brought data before its status.
  Radio([this] { manager->RunningCommand()->response = {0xAA, 0xBB}; });
  Outcome("success", false, false, Status(1, 1));
  EXPECT_EQ(QueuedHeaders().size(), 2u);
  Outcome("fail", false, false, Status(3, 2));

  EXPECT_EQ(QueuedHeaders().size(), 2u);  // the third never ran
  EXPECT_TRUE(ui.HasLog("Command returned a FAIL status"));
  const auto posts = Posts();
  ASSERT_EQ(posts.size(), 1u);
  std::vector<std::uint8_t> first = Status(1, 1);
  first.insert(first.end(), {0xAA, 0xBB});
  EXPECT_EQ(posts[0].request.body,
            Result(0, first, "success") + "&" + Result(1, Status(3, 2), "fail") + "&" +
                Result(2, {}, "disconnect") + "&" + Identity("setup") + kTail);
  EXPECT_EQ(posts[0].request.requestNumber, 2u);
  EXPECT_EQ(manager->CurrentRequestId(), 2u);
  EXPECT_EQ(posts[0].request.host, "srv");
  EXPECT_EQ(posts[0].request.path, "/next");
  EXPECT_EQ(posts[0].context, contextA);
}

TEST_F(RemoteOperationsTest, FailWithRespondNoErrorClosesWithoutPosting) {
  Instruct("<remoteOps>" + OpXml(1) + OpXml(2) + OpXml(3) + "</remoteOps>");
  Outcome("success", false, false, Status(1, 1));
  Outcome("fail", false, false, Status(3, 2));
  EXPECT_TRUE(Posts().empty());
  EXPECT_TRUE(ui.HasLog("Closing: disconnected or command failed with responder 'respondNoError'"));
  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonDisconnected"});
  EXPECT_EQ(errors[0].context, contextA);
  EXPECT_EQ(manager->Mode(), "standard");  // the session ended
}

TEST_F(RemoteOperationsTest, ExecuteAllRunsEveryOperation) {
  Instruct("<remoteOps errorHandler=\"executeAll\" responder=\"respondAlways\">" + OpXml(1) +
           OpXml(2) + OpXml(3) + "</remoteOps>");
  Outcome("success", false, false, Status(1, 1));
  Outcome("fail", false, false, Status(3, 2));
  EXPECT_EQ(QueuedHeaders().size(), 3u);
  EXPECT_EQ(QueuedHeaders()[2], "0x41, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00");
  EXPECT_TRUE(Posts().empty());
  Outcome("success", false, false, Status(1, 3));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body,
            Result(0, Status(1, 1), "success") + "&" + Result(1, Status(3, 2), "fail") + "&" +
                Result(2, Status(1, 3), "success") + "&" + Identity("setup") + kTail);
}

TEST_F(RemoteOperationsTest, TransferErrorUnderExecuteTillErrorAbandonsTheRest) {
  Instruct("<remoteOps responder=\"respondalways\">" + OpXml(1) + OpXml(2) + "</remoteOps>");
  Outcome("wrong_size", true, false);
  EXPECT_EQ(QueuedHeaders().size(), 1u);
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body, Result(0, {}, "disconnect_wrong_size") + "&" +
                                         Result(1, {}, "disconnect") + "&" + Identity("setup") +
                                         kTail);
}

TEST_F(RemoteOperationsTest, TransferErrorUnderExecuteAllStillRunsTheRest) {
  Instruct("<remoteOps errorHandler=\"executeall\" responder=\"respondalways\">" + OpXml(1) +
           OpXml(2) + "</remoteOps>");
  Outcome("wrong_checksum", true, false);
  EXPECT_TRUE(ui.HasLog("Error reported: wrong_checksum"));
  EXPECT_EQ(QueuedHeaders().size(), 2u);
  Outcome("success", false, false, Status(1, 2));
  EXPECT_EQ(Posts()[0].request.body, Result(0, {}, "disconnect_wrong_checksum") + "&" +
                                         Result(1, Status(1, 2), "success") + "&" +
                                         Identity("setup") + kTail);
}

// ---------------------------------------------------------------------------------------------
// Lost links

TEST_F(RemoteOperationsTest, LostLinkMidListIsPostedAfterTheChannelClosed) {
  Instruct("<remoteOps responder=\"respondAlways\">" + OpXml(1) + OpXml(2) + OpXml(3) +
           "</remoteOps>");
  Outcome("success", false, false, Status(1, 1));
  Radio([this] {
    manager->AddRequestField("trackerConnectionDropped", "true");
    manager->OnCommandResult("idle_timeout", true, true);
  });
  EXPECT_TRUE(ui.HasLog("Disconnecting: idle_timeout"));
  EXPECT_TRUE(ui.HasLog("Closing: disconnected from tracker unexpectedly"));
  EXPECT_TRUE(manager->IsDisconnected());
  EXPECT_EQ(radio->Count("CloseChannel"), 1u);
  EXPECT_TRUE(Posts().empty());

  radio->FinishClose();
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body,
            Result(0, Status(1, 1), "success") + "&trackerConnectionDropped=true&" +
                Result(1, {}, "disconnect_idle_timeout") + "&" + Result(2, {}, "disconnect") + "&" +
                Identity("setup") + kTail);
  EXPECT_TRUE(manager->IsActive());
}

TEST_F(RemoteOperationsTest, LostLinkWithRespondNoDisconnectCloses) {
  Instruct("<remoteOps responder=\"respondNoDisconnect\">" + OpXml(1) + "</remoteOps>");
  Outcome("send_failed", true, true);
  EXPECT_TRUE(ui.HasLog("Closing: disconnected with responder 'respondNoDisconnect'"));
  EXPECT_TRUE(Posts().empty());
}

TEST_F(RemoteOperationsTest, FailWithRespondNoDisconnectStillPosts) {
  Instruct("<remoteOps responder=\"respondNoDisconnect\">" + OpXml(1) + "</remoteOps>");
  Outcome("fail", false, false, Status(0, 1));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_TRUE(manager->HasCommandFailed());
}

TEST_F(RemoteOperationsTest, FailureOutsideAnyOperationAddsOneErrorField) {
  Instruct("", "", "action=\"command\"");
  ASSERT_EQ(Posts().size(), 1u);  // nothing to run: posted at once
  ServerResponse waiting = manager->Current();
  waiting.responder = "respondalways";
  manager->ProcessRequest(waiting);
  ui.Clear();
  radio->ClearCalls();
  // A keep-alive ping went unanswered while the session waited for the server.
  Radio([this] {
    manager->AddRequestField("trackerConnectionDropped", "true");
    manager->OnCommandResult("ping_timeout", true, true);
  });
  radio->FinishClose();
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body,
            "trackerConnectionDropped=true&error=ping%5ftimeout&" + Identity("setup") + kTail);
}

TEST_F(RemoteOperationsTest, CommandOnAClosedChannelIsNotConnected) {
  Act("init", "setup", contextA);
  ServerResponse instruction = Instruction("command");
  instruction.responder = "respondalways";
  instruction.remoteOps.push_back(Operation(1));
  manager->ProcessRequest(instruction);
  EXPECT_TRUE(radio->Queued().empty());
  EXPECT_TRUE(ui.HasLog("Error reported: not_connected"));
  ASSERT_EQ(ui.Requests().size(), 2u);
  EXPECT_EQ(ui.Requests()[1].request.body,
            Result(0, {}, "disconnect_not_connected") + "&" + Identity("setup"));
}

TEST_F(RemoteOperationsTest, ThousandsOfUnsendableOperationsKeepTheStackFlat) {
  std::string ops;
  for (int i = 0; i < 20000; ++i) ops += "<remoteOp/>";
  Instruct("<remoteOps errorHandler=\"executeAll\" responder=\"respondAlways\">" + ops +
           "</remoteOps>");
  ASSERT_EQ(Posts().size(), 1u);
  const std::string body = Posts()[0].request.body;
  EXPECT_NE(body.find(Result(19999, {}, "fail")), std::string::npos);
  EXPECT_TRUE(radio->Queued().empty());  // nothing made-up went to the tracker
}

TEST_F(RemoteOperationsTest, CommandWaitsForAnOutstandingPong) {
  Act("init", "setup", contextA);
  radio->channelOpen = true;
  radio->waitingForPong = true;
  ServerResponse instruction = Instruction("command");
  instruction.remoteOps.push_back(Operation(1, 9));
  manager->ProcessRequest(instruction);
  EXPECT_TRUE(ui.HasLog("Attempted to send command while waiting for PONG..."));
  EXPECT_TRUE(radio->Queued().empty());

  // The PONG's handling sends the held-back command, with the command's own retry budget.
  radio->waitingForPong = false;
  Radio([this] { manager->SendCommand(); });
  EXPECT_EQ(radio->Queued().size(), 1u);
  EXPECT_EQ(radio->retryBudget, 9);
}

TEST_F(RemoteOperationsTest, PayloadSizeIsLoggedButNotSentWithTheCommand) {
  Instruct("<remoteOps><remoteOp><opCode>QQE=</opCode><payloadData>" +
           Base64Encode(std::vector<std::uint8_t>(1000, 7)) +
           "</payloadData></remoteOp></remoteOps>");
  EXPECT_TRUE(ui.HasLog("Payload size: 1000 bytes"));
  ASSERT_EQ(radio->Queued().size(), 1u);
  EXPECT_EQ(radio->Queued()[0].header, (std::vector<std::uint8_t>{0x41, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(manager->RunningCommand()->payload.size(), 1000u);
}

TEST_F(RemoteOperationsTest, OutcomeWithoutASessionIsIgnored) {
  Radio([this] { manager->OnCommandResult("fail", false, false); });
  EXPECT_FALSE(ui.HasLog("Command returned a FAIL status"));
}

// ---------------------------------------------------------------------------------------------
// Closing

TEST_F(RemoteOperationsTest, CloseWhileLinkedSleepsFirstAndPostsAfterTheChannelClosed) {
  Instruct("", "", "action=\"close\" sleepPeriod=\"44\"");
  EXPECT_TRUE(ui.HasLog("Closing: received explicit 'close' action"));
  EXPECT_TRUE(ui.HasLog("Commanding tracker to sleep for 44 seconds..."));
  ASSERT_EQ(radio->Queued().size(), 1u);
  EXPECT_EQ(radio->Queued()[0].header, (std::vector<std::uint8_t>{3, 0, 0, 0, 0, 0, 2}));
  EXPECT_TRUE(radio->Queued()[0].control);
  EXPECT_EQ(radio->linkState, LinkState::Unlinking);
  EXPECT_EQ(
      manager->LastSleepTime(),
      std::chrono::duration_cast<std::chrono::seconds>(clock.Now().time_since_epoch()).count());
  EXPECT_TRUE(Posts().empty());
  EXPECT_TRUE(ui.Errors().empty());

  // The UNLINK went out; the radio closes the channel, and only then is the request sent.
  Radio([this] { radio->CloseChannel(); });
  radio->FinishClose();
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body, Identity("setup") + kTail);
}

TEST_F(RemoteOperationsTest, SleepPeriodFallsBackToTheSetting) {
  Instruct("", "", "action=\"close\"");
  EXPECT_TRUE(ui.HasLog("Commanding tracker to sleep for 15 seconds..."));
  EXPECT_EQ(radio->Queued()[0].header[6], 1);
}

TEST_F(EngineTest, DisconnectedKeyIsShownOnlyOutsideStandardMode) {
  StartLinkedStandardSession();
  radio->channelOpen = true;
  ServerResponse instruction = Instruction("command");
  instruction.remoteOps.push_back(Operation(1));
  manager->ProcessRequest(instruction);
  Radio([this] { manager->OnCommandResult("fail", false, false); });
  EXPECT_TRUE(ui.Errors().empty());
  EXPECT_FALSE(manager->IsActive());
  EXPECT_EQ(ui.Requests().size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Dialogs and forms

TEST_F(RemoteOperationsTest, FormSubmittedBeforeTheDisplayTimeIsPostedAtOnce) {
  Instruct("",
           "<clientDisplay><dialog containsForm=\"true\" minDisplayTime=\"5000\">"
           "<![CDATA[<form/>]]></dialog></clientDisplay>");
  EXPECT_TRUE(ui.HasLog("Waiting for minimum display time to elapse [5000ms]..."));
  clock.Advance(1s);
  EXPECT_TRUE(Posts().empty());
  Act("form", "user=me&password=secret%25&remember=1", contextA);
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body,
            "user=me&password=secret%25&remember=1&" + Identity("setup") + kTail);
  EXPECT_TRUE(ui.HasLog("Received form input: user=me&<hiddenpassword>&remember=1"));
  clock.Advance(10s);
  EXPECT_EQ(Posts().size(), 1u);
}

TEST_F(RemoteOperationsTest, FormIsAwaitedEvenAfterTheDisplayTime) {
  Instruct("",
           "<clientDisplay><dialog containsForm=\"true\" minDisplayTime=\"5000\">"
           "<![CDATA[<form/>]]></dialog></clientDisplay>");
  clock.Advance(6s);
  EXPECT_TRUE(Posts().empty());
  EXPECT_TRUE(ui.HasLog("Waiting for form input..."));
  Act("form", "", contextA);  // an empty form adds nothing
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body, Identity("setup") + kTail);
}

TEST_F(RemoteOperationsTest, ResponseTextAndFormTravelUnchanged) {
  Act("init", "setup", contextA);
  ui.Clear();
  Answer(1,
         "<p><response host=\"srv\">a=%s%n&amp;b=100%</response>"
         "<clientDisplay><dialog containsForm=\"true\" minDisplayTime=\"0\">x</dialog>"
         "</clientDisplay></p>",
         false, contextA);
  const std::string form("f=%n\0z", 6);
  Act("form", form, contextA);
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body, form + "&" + Identity("setup") + "&a=%s%n&b=100%");
}

// ---------------------------------------------------------------------------------------------
// The request as it leaves

TEST_F(RemoteOperationsTest, DispatchLogsTheRequestWithPasswordsMasked) {
  Act("init", "setup", contextA);
  ui.Clear();
  Answer(1,
         "<p><response host=\"srv\" port=\"8443\" secure=\"true\" path=\"/x\">"
         "user=a&amp;password=b</response></p>",
         false, contextA);
  EXPECT_TRUE(ui.HasLog("Connecting [2]: secure POST to http://srv:8443/x with data: " +
                        Identity("setup") + "&user=a&<hiddenpassword>"));
  ASSERT_EQ(Posts().size(), 1u);
  EXPECT_EQ(Posts()[0].request.body, Identity("setup") + "&user=a&password=b");
  EXPECT_TRUE(Posts()[0].request.secure);
}

TEST_F(EngineTest, StandardRequestsCarryTheSessionsBeaconType) {
  StartLinkedStandardSession();
  ASSERT_EQ(ui.Requests().size(), 1u);
  EXPECT_EQ(ui.Requests()[0].request.body, "beaconType=standard&" + Identity("standard"));
  EXPECT_TRUE(ui.HasLog("Connecting [1]: POST to http://" + std::string(kDefaultServerHost) +
                        ":8001/device/tracker/uploadData with data: beaconType=standard&" +
                        Identity("standard")));
}

TEST(PasswordMaskingTest, MasksEachPasswordFieldWhereverItStands) {
  EXPECT_EQ(MaskPasswords(""), "");
  EXPECT_EQ(MaskPasswords("password=x"), "<hiddenpassword>");
  EXPECT_EQ(MaskPasswords("password=x&user=y"), "<hiddenpassword>&user=y");
  EXPECT_EQ(MaskPasswords("user=y&password=x"), "user=y&<hiddenpassword>");
  EXPECT_EQ(MaskPasswords("user=y&password=x&z=1"), "user=y&<hiddenpassword>&z=1");
  EXPECT_EQ(MaskPasswords("password=a&password=b&password=c"),
            "<hiddenpassword>&<hiddenpassword>&<hiddenpassword>");
  EXPECT_EQ(MaskPasswords("newpassword=x&y=1"), "new<hiddenpassword>&y=1");
  EXPECT_EQ(MaskPasswords("Password=x&y=1"), "Password=x&y=1");
  EXPECT_EQ(MaskPasswords("note=password"), "note=<hiddenpassword>");
  EXPECT_EQ(MaskPasswords("passwordpassword&x"), "<hiddenpassword>&x");
}

}  // namespace
}  // namespace Pellux

// ---------------------------------------------------------------------------------------------
// What the status record shows of a session

namespace Pellux {
namespace {

// A standard session whose tracker linked and whose first request was posted; the server's
// answer holds three operations.
class SessionStatusTest : public RemoteOperationsTest {
 protected:
  void LinkAndInstruct(const std::string& responder) {
    Act("init", "standard");
    clock.Advance(3s);
    radio->linkState = LinkState::Linked;
    Radio([this] { manager->OnLinked(); });
    linkedAt = EpochSeconds(clock.Now());
    Answer(1,
           "<p><response host=\"srv\" path=\"/next\">sid=9</response><device "
           "action=\"command\"><remoteOps responder=\"" +
               responder + "\">" + OpXml(1) + OpXml(2) + OpXml(3) + "</remoteOps></device></p>");
  }

  std::int64_t linkedAt = 0;
};

TEST_F(SessionStatusTest, OperationsAndBytesAreCountedAndTheFinishedUploadIsKept) {
  LinkAndInstruct("respondAlways");
  EngineStatus status = manager->Status();
  ASSERT_TRUE(status.session.has_value());
  EXPECT_EQ(status.mode, "standard");
  EXPECT_EQ(status.link, EngineStatus::kTransferring);
  EXPECT_TRUE(status.baseStationOpen);
  EXPECT_EQ(status.serial, "SCRIPTED-1");
  EXPECT_EQ(status.session->linkedAt, linkedAt);
  EXPECT_EQ(status.session->requestsPosted, 1u);
  EXPECT_EQ(status.session->operation, 1u);
  EXPECT_EQ(status.session->operations, 3u);
  EXPECT_EQ(status.session->bytesToTracker, 7u) << "the first command's header";

  // The tracker sends five bytes of data and takes three of a payload, then answers.
  Radio([this] {
    manager->RunningCommand()->payload = {1, 2, 3};
    manager->AppendCommandResponse(std::vector<std::uint8_t>{9, 9, 9, 9, 9});
    std::vector<std::uint8_t> chunk;
    manager->TakeCommandPayload(8, chunk);
  });
  Outcome("success", false, false, Status(1, 1));
  status = manager->Status();
  EXPECT_EQ(status.session->operation, 2u);
  EXPECT_EQ(status.session->bytesFromTracker, 5u + 7u);
  EXPECT_EQ(status.session->bytesToTracker, 7u + 3u + 7u);
  Outcome("success", false, false, Status(1, 2));
  Outcome("success", false, false, Status(1, 3));
  status = manager->Status();
  EXPECT_EQ(status.session->operation, 0u) << "none runs";
  EXPECT_EQ(status.session->requestsPosted, 2u);
  EXPECT_EQ(status.link, EngineStatus::kLinked);
  EXPECT_FALSE(status.lastUpload.has_value()) << "still running";

  clock.Advance(30s);
  radio->linkState = LinkState::Searching;
  Answer(2, "<p><device action=\"close\"/></p>");
  status = manager->Status();
  ASSERT_TRUE(status.lastUpload.has_value());
  EXPECT_EQ(*status.lastUpload,
            (SessionProgress::Upload{"standard", EpochSeconds(clock.Now()), 30,
                                     5u + 7u * 3 + 7u * 3 + 3u, 5u + 7u * 3, 7u * 3 + 3u, 2, ""}));
  EXPECT_FALSE(status.lastError.has_value());
  // Once the channel has closed, the next standard session searches, with nothing of the last.
  radio->FinishClose();
  status = manager->Status();
  ASSERT_TRUE(status.session.has_value());
  EXPECT_EQ(status.session->linkedAt, 0);
  EXPECT_EQ(status.session->requestsPosted, 0u);
}

TEST_F(SessionStatusTest, ABackgroundSessionsFailureIsKeptAndShownToNobody) {
  LinkAndInstruct("respondNoError");
  Outcome("fail", false, false, Status(3, 1));
  EngineStatus status = manager->Status();
  ASSERT_TRUE(status.lastUpload.has_value());
  EXPECT_EQ(status.lastUpload->failure, "kPXDaemonDisconnected");
  EXPECT_FALSE(status.lastError.has_value());
  EXPECT_TRUE(ui.Errors().empty());
}

TEST_F(SessionStatusTest, AUiSessionsFailureIsAlsoTheLastErrorShown) {
  // A UI session whose post cannot reach the server.
  Instruct("<remoteOps responder=\"respondAlways\">" + OpXml(1) + "</remoteOps>");
  Radio([this] { manager->OnLinked(); });
  Outcome("success", false, false, Status(1, 1));
  clock.Advance(5s);
  Answer(manager->CurrentRequestId(), "", true, contextA);
  const EngineStatus status = manager->Status();
  ASSERT_TRUE(status.lastUpload.has_value());
  EXPECT_EQ(status.lastUpload->mode, "setup");
  EXPECT_EQ(status.lastUpload->failure, "kPXDaemonConnectionFailed");
  ASSERT_TRUE(status.lastError.has_value());
  EXPECT_EQ(*status.lastError,
            (SessionProgress::ShownError{EpochSeconds(clock.Now()), "kPXDaemonConnectionFailed"}));
}

TEST_F(SessionStatusTest, TheLinkStateFollowsTheRadioAndTheBaseStation) {
  EXPECT_EQ(manager->Status().link, EngineStatus::kStopped);
  Act("init", "standard");
  EXPECT_EQ(manager->Status().link, EngineStatus::kSearching);
  radio->linkState = LinkState::Unlinking;
  EXPECT_EQ(manager->Status().link, EngineStatus::kSleeping);
  radio->linkState = LinkState::Pinging;
  EXPECT_EQ(manager->Status().link, EngineStatus::kLinked);
  Act("basestationdisconnect", "SCRIPTED-1");
  EXPECT_EQ(manager->Status().link, EngineStatus::kWaitingForBaseStation);
}

}  // namespace
}  // namespace Pellux
