#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "server/http_exchange.h"
#include "server/network_worker_pool.h"
#include "sim/reference_server.h"
#include "tests/link/session_fixture.h"

namespace Pellux {
namespace {

struct HostileCase {
  const char* name;
  ServerReply reply;
  bool refused;  // nothing listens at the server's port at all
};

// The engine and its radio with real HTTP: its requests go through the network workers over
// loopback to the reference server, and every answer comes back as the action "http".
class SessionHttpTest : public SessionRoadTest, public ::testing::WithParamInterface<HostileCase> {
 protected:
  void SetUp() override {
    SessionRoadTest::SetUp();
    std::uint16_t port = server.Port();
    if (GetParam().refused) {
      ReferenceServer gone;
      port = gone.Port();
    }
    ui.store.WriteText(kSettingsSection, "ServerHost", "127.0.0.1");
    ui.store.WriteNumber(kSettingsSection, "ServerPort", port);
    ui.store.WriteText(kSettingsSection, "ErrorHost", "127.0.0.1");
    ui.store.WriteNumber(kSettingsSection, "ErrorPort", port);
    Radio([this] { manager->LoadSettings(); });
    ui.forward = [this](NetworkRequest request, Context context) {
      pool.Submit(std::move(request), context,
                  [this](bool failed, const std::string& body, std::uint32_t number, Context ctx) {
                    manager->ProcessAction(number, "http", body, failed, ctx);
                    std::lock_guard guard(mutex);
                    answers.push_back(failed);
                    answered.notify_all();
                  });
    };
  }

  void TearDown() override {
    // No answer may reach the engine once it is gone.
    pool.Stop();
    SessionRoadTest::TearDown();
  }

  std::vector<bool> AwaitAnswers(std::size_t count) {
    std::unique_lock guard(mutex);
    answered.wait_for(guard, std::chrono::seconds(30), [&] { return answers.size() >= count; });
    return answers;
  }

  ReferenceServer server;
  std::unique_ptr<HttpExchange> exchange = HttpExchange::CreateForPlatform(nullptr, [] {
    HttpExchange::Limits limits;
    limits.connectTimeout = std::chrono::milliseconds(2000);
    limits.stallTimeout = std::chrono::milliseconds(200);
    return limits;
  }());
  NetworkWorkerPool pool{*exchange};
  std::mutex mutex;
  std::condition_variable answered;
  std::vector<bool> answers;
};

TEST_P(SessionHttpTest, AFailedExchangeEndsTheSessionAndTheNextStandardSessionStarts) {
  server.Script(GetParam().reply);
  Act("init", "standard");
  ASSERT_TRUE(RunUntilRequests(1));
  const std::vector<bool> got = AwaitAnswers(1);
  ASSERT_EQ(got.size(), 1U);
  EXPECT_TRUE(got[0]);
  Settle();
  EXPECT_TRUE(ui.HasLog("Connection to server failed."));
  EXPECT_EQ(ui.CountLog("Starting session in standard mode..."), 2U);
  EXPECT_TRUE(manager->IsActive());
  // The workers are free: the pool stops at once, and exactly one answer came.
  pool.Stop();
  EXPECT_EQ(answers.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SessionHttpTest,
    ::testing::Values(HostileCase{"Refused", ServerReply::Document(""), true},
                      HostileCase{"NotFound", ServerReply::Document("<p>gone</p>", 404), false},
                      HostileCase{"Stalling", ServerReply::Stalling(), false},
                      HostileCase{"ClosingMidBody", ServerReply::ClosingMidBody("<p>"), false},
                      HostileCase{"Huge", ServerReply::Huge(20 * 1024 * 1024), false}),
    [](const ::testing::TestParamInfo<HostileCase>& each) { return each.param.name; });

class SessionHttpRoadTest : public SessionHttpTest {};

TEST_P(SessionHttpRoadTest, AWholeUploadTravelsOverLoopback) {
  Script({0x22, 0x01}, TrackerAnswer::Download(Pattern(700)));
  server.ScriptDocuments({"<p><response host=\"127.0.0.1\" port=\"" +
                              std::to_string(server.Port()) +
                              "\" path=\"/next\"/><device action=\"command\"><remoteOps>" +
                              RemoteOp(kDownloadCommand) + "</remoteOps></device></p>",
                          "<p><device action=\"close\"/></p>"});
  Act("init", "standard");
  ASSERT_TRUE(RunUntilRequests(1));
  AwaitAnswers(1);
  Settle();
  ASSERT_TRUE(RunUntilRequests(2));
  AwaitAnswers(2);
  // The close puts the tracker to sleep before the channel closes.
  Advance(std::chrono::seconds(2));
  EXPECT_EQ(station.Tracker().state, TrackerLinkState::Asleep);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[0].path, "/device/tracker/uploadData");
  EXPECT_EQ(requests[0].body, StandardTail());
  EXPECT_EQ(requests[1].path, "/next");
  EXPECT_EQ(requests[1].body, StandardBody([](RequestBody& body) {
              body.AddOperationResult(Pattern(700), "success");
            }));
  EXPECT_EQ(ui.CountLog("Starting session in standard mode..."), 2U);
}

INSTANTIATE_TEST_SUITE_P(Server, SessionHttpRoadTest,
                         ::testing::Values(HostileCase{"Plain", ServerReply::Document(""), false}),
                         [](const ::testing::TestParamInfo<HostileCase>& each) {
                           return each.param.name;
                         });

}  // namespace
}  // namespace Pellux
