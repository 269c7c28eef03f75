// The listener of the UI channel, one suite for both platforms (a Unix socket on Linux, a
// named pipe under Wine): messages are handed on whole and in order, a hostile client is logged
// and never stops the listener, and Stop wakes it whatever a client does.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/waited_texts.h"
#include "tests/ui/channel/listener_platform.h"
#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using Client = ListenerPlatform::Client;

class PipeServerContractTest : public ::testing::Test {
 protected:
  void SetUp() override { StartServer(200ms); }
  void TearDown() override { server->Stop(); }

  void StartServer(std::chrono::milliseconds clientTimeout) {
    if (server) server->Stop();
    server = platform.MakeServer(
        [this](const std::string& line, int level) { lines.Add(line, level); }, clientTimeout);
    ASSERT_TRUE(server->Start(
        [this](const UiSender& /*sender*/, const std::string& message) { messages.Add(message); }));
  }

  ListenerPlatform platform;
  const std::string reply = platform.ReplyName();
  Lines lines;
  Messages messages;
  std::unique_ptr<PipeServer> server;
};

TEST_F(PipeServerContractTest, HandsOnEachMessageWholeAndInOrder) {
  const std::string whole(kMaxUiMessageBytes, 'w');  // the largest message taken
  ASSERT_TRUE(platform.Send("S " + reply + " setup"));
  ASSERT_TRUE(platform.Send("F " + reply + " a=1\nb=2 "));
  ASSERT_TRUE(platform.Send(whole));
  ASSERT_TRUE(messages.WaitFor(3)) << ::testing::PrintToString(lines.All());
  EXPECT_EQ(messages.At(0), "S " + reply + " setup");
  EXPECT_EQ(messages.At(1), "F " + reply + " a=1\nb=2 ");
  EXPECT_EQ(messages.At(2), whole);
  EXPECT_TRUE(lines.All().empty());
}

TEST_F(PipeServerContractTest, HostileClientsAreLoggedAndTheNextMessageIsServed) {
  struct Case {
    std::string what;
    std::function<std::shared_ptr<void>()> client;
    ListenerPlatform::Outcome outcome;
  };
  std::vector<Case> cases;
  for (const auto& [what, client] :
       {std::pair{"1 MiB message", Client::kOversized}, std::pair{"zero bytes", Client::kEmpty},
        std::pair{"silent client", Client::kSilent},
        std::pair{"leaves early", Client::kLeavesEarly}}) {
    cases.push_back(
        {what, [this, c = client] { return platform.Run(c); }, platform.Expected(client, 200ms)});
  }
  // Messages the service pipe refuses are the listener's to hand on as they came.
  for (const std::string& text : {"Q " + reply + " ?", std::string("T \\\\host\\pipe\\x"),
                                  "L " + reply + " x 7", "P " + reply + " 1 . 0 0 . . %"}) {
    cases.push_back({text, [this, text] { return platform.Send(text), nullptr; }, {"", text}});
  }

  std::size_t served = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = lines.All().size();
    const std::shared_ptr<void> kept = c.client();
    // The next client waits behind one the listener is still busy with.
    if (!c.outcome.linePrefix.empty()) {
      ASSERT_TRUE(lines.WaitFor(before + 1));
    }
    ASSERT_TRUE(platform.Send("T " + reply));
    served += c.outcome.handedOn.empty() ? 1 : 2;
    ASSERT_TRUE(messages.WaitFor(served));
    EXPECT_EQ(messages.At(served - 1), "T " + reply);
    if (!c.outcome.handedOn.empty()) {
      EXPECT_EQ(messages.At(served - 2), c.outcome.handedOn);
    }
    const auto all = lines.All();
    if (c.outcome.linePrefix.empty()) {
      EXPECT_EQ(all.size(), before);
    } else {
      ASSERT_EQ(all.size(), before + 1);
      EXPECT_EQ(all.back().rfind(c.outcome.linePrefix, 0), 0u) << all.back();
    }
  }
}

TEST_F(PipeServerContractTest, StopWakesTheListenerEvenDuringASilentClient) {
  StartServer(30s);
  const std::shared_ptr<void> silent = platform.Run(Client::kSilent);
  ASSERT_NE(silent, nullptr);
  std::this_thread::sleep_for(50ms);  // let the listener take the connection
  const auto start = std::chrono::steady_clock::now();
  server->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_TRUE(lines.All().empty());
  EXPECT_TRUE(platform.AddressIsGone()) << "the endpoint goes with the listener";
}

}  // namespace
}  // namespace Pellux
