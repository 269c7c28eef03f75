#include "server/server_response_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/packet.h"

namespace Pellux {
namespace {

using namespace std::string_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Read {
  bool ok = false;
  ServerResponse response;
  std::vector<std::string> warnings;
  std::string error;
};

Read Parse(std::string_view text) {
  Read read;
  read.ok = ParseServerResponse(text, read.response, read.warnings, &read.error);
  return read;
}

std::string Document(const std::string& inner) {
  return "<pellux version=\"1\">" + inner + "</pellux>";
}

std::vector<std::uint8_t> HeaderOf(const Packet& packet) {
  std::vector<std::uint8_t> bytes;
  packet.Serialize(bytes);
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// Documents that cannot be read

TEST(ServerResponseReaderTest, EmptyOrBlankBodyIsNoDocument) {
  for (const char* text : {"", "   \r\n\t "}) {
    const Read read = Parse(text);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, "Invalid Pellux XML file");
    EXPECT_THAT(read.warnings, IsEmpty());
  }
}

TEST(ServerResponseReaderTest, SyntaxErrorsCarryTheLibraryMessageAndLeaveDefaults) {
  EXPECT_EQ(Parse("plain words").error, "expected <");
  EXPECT_EQ(Parse("<a><b></a>").error, "unexpected end of data");
  EXPECT_EQ(Parse("<a x></a>").error, "expected =");
  EXPECT_EQ(Parse("<a>&#xZZ;</a>").error, "expected ;");
  EXPECT_EQ(Parse("<a>&#x110000;</a>").error, "invalid numeric character entity");

  ServerResponse response;
  response.host = "kept";
  std::vector<std::string> warnings;
  std::string error;
  EXPECT_FALSE(ParseServerResponse("<a><response method=\"bad\"", response, warnings, &error));
  EXPECT_EQ(response.host, "kept");
  EXPECT_THAT(warnings, IsEmpty());
  EXPECT_FALSE(error.empty());
}

TEST(ServerResponseReaderTest, ZeroByteEndsTheDocument) {
  const Read read = Parse("<a><response host=\"h\"/></a>\0garbage<<<"s);
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.response.host, "h");
  EXPECT_FALSE(Parse("<a>\0</a>"s).ok);
}

TEST(ServerResponseReaderTest, DeepNestingIsRefusedBeforeParsing) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  const Read read = Parse(deep);
  EXPECT_FALSE(read.ok);
  EXPECT_EQ(read.error, "document nested deeper than 256 levels");

  std::string allowed;
  for (int i = 0; i < 256; ++i) allowed += "<a>";
  for (int i = 0; i < 256; ++i) allowed += "</a>";
  EXPECT_TRUE(Parse(allowed).ok);
  EXPECT_FALSE(Parse("<b>" + allowed + "</b>").ok);
}

TEST(ServerResponseReaderTest, NestingCountIgnoresWhatTheParserSkips) {
  EXPECT_EQ(XmlNestingDepth("<a><b/><c x=\"<d>\"></c></a>", 10), 2);
  EXPECT_EQ(XmlNestingDepth("<a><!-- <b><c> --><![CDATA[<d><e>]]><?pi <f>?></a>", 10), 1);
  EXPECT_EQ(XmlNestingDepth("<!DOCTYPE x [<!ELEMENT a (b)>]><a/>", 10), 0);
  EXPECT_EQ(XmlNestingDepth("</x></y><a><b>", 10), 2);
  EXPECT_EQ(XmlNestingDepth("<a><b><c><d>", 2), 3);  // stops counting past the limit
}

// ---------------------------------------------------------------------------------------------
// Defaults and the response element

TEST(ServerResponseReaderTest, RootWithoutChildrenGivesEveryDefault) {
  const Read read = Parse("<anything/>");
  ASSERT_TRUE(read.ok);
  EXPECT_THAT(read.warnings, IsEmpty());
  const ServerResponse& r = read.response;
  EXPECT_EQ(r.origin, "server");
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.protocol, "http");
  EXPECT_EQ(r.port, 0);  // the protocol default needs a response element
  EXPECT_EQ(r.minDisplayTime, 3000);
  EXPECT_EQ(r.width, -1);
  EXPECT_EQ(r.pingInterval, -1);
  EXPECT_EQ(r.sleepPeriod, -1);
  EXPECT_EQ(r.acquireTimeOut, 600);
  EXPECT_EQ(r.errorHandler, "executetillerror");
  EXPECT_EQ(r.responder, "respondnoerror");
  EXPECT_TRUE(r.remoteOps.empty());
}

TEST(ServerResponseReaderTest, ResponseAttributesAreNormalised) {
  const Read read = Parse(
      Document("<response method=\"post\" protocol=\"HTTP\" host=\"Up.Example\" path=\"/a b\" "
               "secure=\"TRUE\" port=\"8443\">sid=7&amp;x=%41</response>"));
  ASSERT_TRUE(read.ok);
  EXPECT_THAT(read.warnings, IsEmpty());
  const ServerResponse& r = read.response;
  EXPECT_EQ(r.version, "1");
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.protocol, "http");
  EXPECT_EQ(r.host, "Up.Example");
  EXPECT_EQ(r.path, "/a b");
  EXPECT_TRUE(r.secure);
  EXPECT_EQ(r.port, 8443);
  EXPECT_EQ(r.responseText, "sid=7&x=%41");
}

TEST(ServerResponseReaderTest, PortDefaultsFollowTheProtocol) {
  struct Case {
    const char* attributes;
    int port;
  };
  const Case cases[] = {
      {"", 80},
      {"secure=\"true\"", 443},
      {"protocol=\"ftp\"", 21},
      {"protocol=\"ftp\" secure=\"true\"", 22},
      {"protocol=\"gopher\"", 70},
      {"protocol=\"gopher\" secure=\"true\"", 70},
      {"port=\"0\"", 80},
      {"port=\"abc\"", 80},
      {"port=\"65535\"", 65535},
      {"port=\" +21x\"", 21},
  };
  for (const Case& c : cases) {
    const Read read = Parse(Document(std::string("<response ") + c.attributes + "/>"));
    ASSERT_TRUE(read.ok) << c.attributes;
    EXPECT_EQ(read.response.port, c.port) << c.attributes;
    EXPECT_THAT(read.warnings, IsEmpty()) << c.attributes;
  }
}

TEST(ServerResponseReaderTest, PortsOutOfRangeWarnAndFallBackToTheDefault) {
  for (const char* port : {"70000", "-1", "99999999999", "-99999999999"}) {
    const Read read = Parse(Document(std::string("<response port=\"") + port + "\"/>"));
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.response.port, 80) << port;
    EXPECT_THAT(read.warnings,
                ElementsAre(std::string("invalid attribute value [port=\"") + port + "\"]"));
  }
}

TEST(ServerResponseReaderTest, BadValuesWarnInProcessingOrderWithTheirOriginalText) {
  const Read read = Parse(Document(
      "<response port=\"70000\" secure=\"Yes\" method=\"Put\" protocol=\"HTTPS\" "
      "host=\"h\"/><clientDisplay><dialog containsForm=\"maybe\"/></clientDisplay>"
      "<device type=\"Watch\" action=\"Fly\"><trackerAcquire><beaconType>Fast</beaconType>"
      "</trackerAcquire><remoteOps errorHandler=\"x\" responder=\"\"><remoteOp encrypted=\"1\"/>"
      "</remoteOps></device>"));
  ASSERT_TRUE(read.ok);
  EXPECT_THAT(read.warnings, ElementsAre("invalid attribute value [method=\"Put\"]",
                                         "invalid attribute value [protocol=\"HTTPS\"]",
                                         "invalid attribute value [secure=\"Yes\"]",
                                         "invalid attribute value [port=\"70000\"]",
                                         "invalid attribute value [containsForm=\"maybe\"]",
                                         "invalid attribute value [type=\"Watch\"]",
                                         "invalid attribute value [action=\"Fly\"]",
                                         "invalid node value [beaconType=\"Fast\"]",
                                         "invalid attribute value [errorHandler=\"x\"]",
                                         "invalid attribute value [responder=\"\"]",
                                         "invalid attribute value [encrypted=\"1\"]"));
  const ServerResponse& r = read.response;
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.protocol, "http");
  EXPECT_FALSE(r.secure);
  EXPECT_FALSE(r.containsForm);
  EXPECT_EQ(r.deviceType, "");
  EXPECT_EQ(r.action, "");
  EXPECT_EQ(r.beaconType, "");
  EXPECT_EQ(r.errorHandler, "executetillerror");
  EXPECT_EQ(r.responder, "respondnoerror");
  ASSERT_EQ(r.remoteOps.size(), 1u);
  EXPECT_FALSE(r.remoteOps.front()->encrypted);
}

TEST(ServerResponseReaderTest, WarningTextsKeepPercentSignsAndEntities) {
  const Read read = Parse(Document("<response method=\"%s%n&amp;&lt;\"/>"));
  EXPECT_THAT(read.warnings, ElementsAre("invalid attribute value [method=\"%s%n&<\"]"));
}

// ---------------------------------------------------------------------------------------------
// Display and device

TEST(ServerResponseReaderTest, DialogAndMessageAreRead) {
  const Read read = Parse(Document(
      "<clientDisplay><message>Hello &amp; 100%</message><dialog containsForm=\"True\" "
      "minDisplayTime=\"-5\" width=\"640\" height=\"99999999999\"><![CDATA[<b>hi</b>]]></dialog>"
      "</clientDisplay>"));
  ASSERT_TRUE(read.ok);
  const ServerResponse& r = read.response;
  EXPECT_EQ(r.message, "Hello & 100%");
  EXPECT_TRUE(r.containsForm);
  EXPECT_EQ(r.minDisplayTime, -5);
  EXPECT_EQ(r.width, 640);
  EXPECT_EQ(r.height, 2147483647);
  EXPECT_EQ(r.dialogContent, "<b>hi</b>");

  EXPECT_EQ(Parse(Document("<clientDisplay><dialog>plain</dialog></clientDisplay>"))
                .response.dialogContent,
            "plain");
  EXPECT_EQ(Parse(Document("<clientDisplay><dialog/></clientDisplay>")).response.dialogContent, "");
}

TEST(ServerResponseReaderTest, DeviceInstructionIsRead) {
  const Read read = Parse(Document(
      "<device type=\"TRACKER\" action=\"Acquire\" pingInterval=\"2500\" sleepPeriod=\"44\">"
      "<trackerAcquire><beaconType>SPECIAL</beaconType><timeOut>120</timeOut></trackerAcquire>"
      "<remoteOps errorHandler=\"ExecuteAll\" responder=\"RespondAlways\"/></device>"));
  ASSERT_TRUE(read.ok);
  EXPECT_THAT(read.warnings, IsEmpty());
  const ServerResponse& r = read.response;
  EXPECT_EQ(r.deviceType, "tracker");
  EXPECT_EQ(r.action, "acquire");
  EXPECT_EQ(r.pingInterval, 2500);
  EXPECT_EQ(r.sleepPeriod, 44);
  EXPECT_EQ(r.beaconType, "special");
  EXPECT_EQ(r.acquireTimeOut, 120);
  EXPECT_EQ(r.errorHandler, "executeall");
  EXPECT_EQ(r.responder, "respondalways");
  EXPECT_TRUE(r.remoteOps.empty());
}

TEST(ServerResponseReaderTest, AcquireTimeOutAboveTheLimitIsDroppedSilently) {
  const auto timeOut = [](const char* value) {
    return Parse(Document(std::string("<device><trackerAcquire><timeOut>") + value +
                          "</timeOut></trackerAcquire></device>"));
  };
  EXPECT_EQ(timeOut("601").response.acquireTimeOut, 600);
  EXPECT_THAT(timeOut("601").warnings, IsEmpty());
  EXPECT_EQ(timeOut("600").response.acquireTimeOut, 600);
  EXPECT_EQ(timeOut("-5").response.acquireTimeOut, -5);
  EXPECT_EQ(timeOut("x").response.acquireTimeOut, 0);
}

// ---------------------------------------------------------------------------------------------
// Remote operations

TEST(ServerResponseReaderTest, RemoteOperationsBecomeCommandsWithPacketAndPayload) {
  // opCode: 01 02 03 04 05 06 07 08 (the eighth byte is not part of the header).
  const Read read =
      Parse(Document("<device action=\"command\"><remoteOps>"
                     "<remoteOp encrypted=\"TRUE\" retries=\"7\"><opCode>AQIDBAUGBwg=</opCode>"
                     "<payloadData>YWJj</payloadData></remoteOp>"
                     "<remoteOp><opCode>wMA</opCode></remoteOp>"
                     "<remoteOp retries=\"-2\"/>"
                     "</remoteOps></device>"));
  ASSERT_TRUE(read.ok);
  EXPECT_THAT(read.warnings, IsEmpty());
  const auto& ops = read.response.remoteOps;
  ASSERT_EQ(ops.size(), 3u);
  auto op = ops.begin();
  EXPECT_TRUE((*op)->encrypted);
  EXPECT_EQ((*op)->retries, 7);
  ASSERT_NE((*op)->packet, nullptr);
  EXPECT_THAT(HeaderOf(*(*op)->packet), ElementsAre(1, 2, 3, 4, 5, 6, 7));
  EXPECT_THAT((*op)->payload, ElementsAre('a', 'b', 'c'));
  ++op;
  // A short operation code fills the rest of the header with zeros.
  ASSERT_NE((*op)->packet, nullptr);
  EXPECT_THAT(HeaderOf(*(*op)->packet), ElementsAre(0xC0, 0xC0, 0, 0, 0, 0, 0));
  EXPECT_EQ((*op)->retries, 3);
  ++op;
  EXPECT_EQ((*op)->packet, nullptr);
  EXPECT_EQ((*op)->retries, -2);
  EXPECT_TRUE((*op)->payload.empty());
}

TEST(ServerResponseReaderTest, EverySiblingAfterTheFirstRemoteOpIsAnOperation) {
  const Read read = Parse(Document(
      "<device><remoteOps><other/><remoteOp/><somethingElse retries=\"1\"/></remoteOps></device>"));
  ASSERT_TRUE(read.ok);
  ASSERT_EQ(read.response.remoteOps.size(), 2u);
  EXPECT_EQ(read.response.remoteOps.back()->retries, 1);

  EXPECT_TRUE(Parse(Document("<device><remoteOps><other/></remoteOps></device>"))
                  .response.remoteOps.empty());
}

TEST(ServerResponseReaderTest, OnlyTheFirstElementOfANameCounts) {
  const Read read = Parse(
      Document("<response host=\"first\"/><response host=\"second\"/>"
               "<clientDisplay><message>one</message><message>two</message></clientDisplay>"));
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.response.host, "first");
  EXPECT_EQ(read.response.message, "one");
}

}  // namespace
}  // namespace Pellux
