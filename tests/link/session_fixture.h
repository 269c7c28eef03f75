#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/base64.h"
#include "server/request_body.h"
#include "tests/support/radio_engine_fixture.h"

namespace Pellux {

inline const PacketHeader kDownloadCommand{0x22, 0x01, 0, 0, 0, 0, 0};
inline const PacketHeader kUploadCommand{0x22, 0x02, 0, 0, 0, 0, 0};

inline std::string RemoteOp(const PacketHeader& header,
                            const std::vector<std::uint8_t>& payload = {}) {
  std::string op = "<remoteOp><opCode>" + Base64Encode(header) + "</opCode>";
  if (!payload.empty()) op += "<payloadData>" + Base64Encode(payload) + "</payloadData>";
  return op + "</remoteOp>";
}

inline std::string CommandDocument(const std::string& ops,
                                   const std::string& responder = "respondNoError") {
  return "<p><response host=\"srv\" port=\"80\" path=\"/next\"/><device action=\"command\">"
         "<remoteOps responder=\"" +
         responder + "\">" + ops + "</remoteOps></device></p>";
}

inline const std::string kIdentity =
    "p%5flcl=en%5fUS&clientMode=standard&clientId=client%2d0001&clientVersion=1%2e2&os="
    "TestOS%201%2e0";

// Whole sessions: the engine and its radio, the virtual station and tracker, and a server
// played by the test through the requests the user interface records.
class SessionRoadTest : public RadioEngineTest {
 protected:
  // Lets the radio run until the engine has posted `count` requests in all, at most `limit`
  // of virtual time.
  ::testing::AssertionResult RunUntilRequests(
      std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    for (auto waited = std::chrono::milliseconds(0); waited < limit; waited += kChannelPeriod) {
      if (ui.Requests().size() >= count) return ::testing::AssertionSuccess();
      Advance(kChannelPeriod);
    }
    if (ui.Requests().size() >= count) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "only " << ui.Requests().size() << " requests";
  }

  // Answers the latest request with `document`.
  void Serve(const std::string& document) {
    const auto requests = ui.Requests();
    ASSERT_FALSE(requests.empty());
    manager->ProcessAction(requests.back().request.requestNumber, "http", document, false,
                           requests.back().context);
    Settle();
  }

  std::string LastBody() const { return ui.Requests().back().request.body; }

  // A standard session that has linked the tracker and posted its first results.
  void LinkStandardSession() {
    Act("init", "standard");
    ASSERT_TRUE(RunUntilRequests(1));
  }

  // What every request of a standard session ends with after the operation results.
  static std::string StandardTail() { return "beaconType=standard&" + kIdentity; }

  // The body of a standard session's request whose results `fill` adds.
  template <typename Fill>
  static std::string StandardBody(Fill&& fill) {
    RequestBody body;
    fill(body);
    body.AddField("beaconType", "standard");
    return body.Finish() + "&" + kIdentity;
  }

  // Acknowledged and burst messages the host wrote, in order, from position `mark` on.
  [[nodiscard]] std::vector<AntFrame> DataWrittenSince(std::size_t mark) const {
    std::vector<AntFrame> data;
    const std::vector<AntFrame> all = station.HostMessages();
    for (std::size_t i = mark; i < all.size(); ++i) {
      if (all[i].id == 0x4F || all[i].id == 0x50) data.push_back(all[i]);
    }
    return data;
  }

  void Script(std::vector<std::uint8_t> prefix, TrackerAnswer answer) {
    station.WithTracker([&](VirtualTracker& tracker) { tracker.SetAnswer(prefix, answer); });
  }
};

}  // namespace Pellux
