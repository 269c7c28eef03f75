#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/session/engine_fixture.h"

namespace Pellux {
namespace {

using ::testing::ElementsAre;

// A session whose first request (number 1) waits for its answer.
class ServerAnswerTest : public EngineTest {
 protected:
  void StartUiSession(const std::string& mode = "setup") {
    Act("init", mode, contextA);
    ASSERT_EQ(manager->CurrentRequestId(), 1u);
    ui.Clear();
    radio->ClearCalls();
  }
  std::vector<RecordingUserInterface::RequestEntry> Reports() const {
    std::vector<RecordingUserInterface::RequestEntry> reports;
    for (const auto& entry : ui.Requests()) {
      if (entry.request.path == "/device/tracker/errors") reports.push_back(entry);
    }
    return reports;
  }
};

TEST_F(ServerAnswerTest, UnreadableAnswerIsReportedAndEndsTheSession) {
  ui.store.WriteText("Tracker", "ErrorHost", "errors.example");
  ui.store.WriteNumber("Tracker", "ErrorPort", 9000);
  Act("refresh");
  StartUiSession();
  Answer(1, "not xml", false, contextA);

  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  const NetworkRequest& report = reports[0].request;
  EXPECT_EQ(report.body, "xml_parse_error=expected%20%3c");
  EXPECT_EQ(report.host, "errors.example");
  EXPECT_EQ(report.port, 9000);
  EXPECT_EQ(report.method, "POST");
  EXPECT_EQ(report.requestNumber, 0u);
  EXPECT_FALSE(report.reportResult);
  EXPECT_EQ(reports[0].context, kNoContext);
  EXPECT_TRUE(ui.HasLog("XML parse error: expected <"));
  const auto errors = ui.Errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].keys, std::vector<std::string>{"kPXDaemonErrorOccurred"});
  EXPECT_EQ(errors[0].context, contextA);
  // The setup session ended and the background session took over.
  EXPECT_EQ(manager->Mode(), "standard");
}

TEST_F(ServerAnswerTest, UnreadableAnswerInStandardModeTellsNoUser) {
  StartLinkedStandardSession();
  ui.Clear();
  Answer(1, "   ");
  EXPECT_TRUE(ui.HasLog("XML parse error: Invalid Pellux XML file"));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].request.body, "xml_parse_error=Invalid%20Pellux%20XML%20file");
  EXPECT_TRUE(ui.Errors().empty());
  EXPECT_FALSE(manager->IsActive());
}

TEST_F(ServerAnswerTest, DeeplyNestedAnswerIsRefusedLikeAnyUnreadableOne) {
  StartUiSession();
  std::string deep;
  for (int i = 0; i < 1000000; ++i) deep += "<a>";
  Answer(1, deep, false, contextA);
  EXPECT_TRUE(ui.HasLog("XML parse error: document nested deeper than 256 levels"));
  ASSERT_EQ(Reports().size(), 1u);
  EXPECT_EQ(Reports()[0].request.body,
            "xml_parse_error=document%20nested%20deeper%20than%20256%20levels");
}

TEST_F(ServerAnswerTest, WarningsAreLoggedAndReportedAndTheSessionGoesOn) {
  StartUiSession();
  Answer(1,
         "<p><response host=\"srv\" method=\"PUT\" port=\"-1\"/>"
         "<device action=\"command\"/></p>",
         false, contextA);
  EXPECT_TRUE(ui.HasLog("XML parse warning: invalid attribute value [method=\"PUT\"]"));
  EXPECT_TRUE(ui.HasLog("XML parse warning: invalid attribute value [port=\"-1\"]"));
  const auto reports = Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].request.body,
            "xml_parse_warning[0]=invalid%20attribute%20value%20%5bmethod%3d%22PUT%22%5d"
            "&xml_parse_warning[1]=invalid%20attribute%20value%20%5bport%3d%22%2d1%22%5d");
  EXPECT_FALSE(reports[0].request.reportResult);
  // The instruction was carried out: its results went to the server it named.
  const auto requests = ui.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].request.host, "srv");
  EXPECT_EQ(requests[1].request.requestNumber, 2u);
  EXPECT_TRUE(ui.Errors().empty());
}

TEST_F(ServerAnswerTest, MessageAndDialogGoToTheCallersInterface) {
  StartUiSession();
  Answer(1,
         "<p><response host=\"srv\"/><clientDisplay><message>Syncing 100% %s</message>"
         "<dialog width=\"300\"><![CDATA[<p>Hi</p>]]></dialog></clientDisplay></p>",
         false, contextA);
  const auto logs = ui.Logs();
  const auto message = std::find_if(
      logs.begin(), logs.end(), [](const auto& entry) { return entry.text == "Syncing 100% %s"; });
  ASSERT_NE(message, logs.end());
  EXPECT_EQ(message->level, 8);
  EXPECT_EQ(message->context, contextA);
  const auto pages = ui.Pages();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].html, "<p>Hi</p>");
  EXPECT_EQ(pages[0].context, contextA);
  EXPECT_EQ(pages[0].width, 300);
  EXPECT_EQ(pages[0].height, -1);
  // The dialog's default minimum display time holds the next post back.
  EXPECT_TRUE(manager->IsWaitingMinDisplay());
}

TEST_F(ServerAnswerTest, FactorySetupReadsAnswersWithRespondAlwaysUnlessNamed) {
  StartUiSession("factoryfirmwaresetup");
  Answer(1, "<p><response host=\"srv\"/></p>", false, contextA);
  EXPECT_EQ(manager->Current().responder, "respondalways");

  Answer(
      2,
      "<p><response host=\"srv\"/><device><remoteOps responder=\"respondNoError\"/></device></p>",
      false, contextA);
  EXPECT_EQ(manager->Current().responder, "respondnoerror");
}

TEST_F(ServerAnswerTest, OtherModesKeepTheDocumentsResponder) {
  StartUiSession("setup");
  Answer(1, "<p><response host=\"srv\"/></p>", false, contextA);
  EXPECT_EQ(manager->Current().responder, "respondnoerror");
}

TEST_F(ServerAnswerTest, AcquireFromTheServerOpensTheRadio) {
  StartUiSession();
  Answer(1,
         "<p><response host=\"srv\"/><device action=\"acquire\" pingInterval=\"3000\">"
         "<trackerAcquire><beaconType>special</beaconType></trackerAcquire></device></p>",
         false, contextA);
  EXPECT_THAT(radio->Calls(),
              ElementsAre("SetRetryBudget 32", "SetSearchDeviceNumber 65534", "OpenCommunication"));
  EXPECT_EQ(manager->PingInterval(), 3000);
  EXPECT_EQ(manager->SessionBeaconType(), "special");
}

}  // namespace
}  // namespace Pellux
