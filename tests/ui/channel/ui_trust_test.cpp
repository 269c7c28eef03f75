// Who may do what over the UI channel, whose context a message gets, how long names are kept,
// and what of a UI's text reaches the log: the service pipe fed with senders as the listeners
// report them.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/log_level.h"
#include "base/log_text.h"
#include "sim/virtual_clock.h"
#include "tests/support/fixed_authority.h"
#include "tests/support/recording_pipe_hooks.h"
#include "tests/support/recording_session_control.h"
#include "ui/channel/reply_endpoints.h"
#include "ui/channel/service_pipe.h"
#include "ui/channel/ui_permissions.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(UiPermissionsTest, WhoMaySendWhat) {
  struct Case {
    char code;
    const char* rest;
    UiRight right;
  };
  const Case cases[] = {
      {'T', "", UiRight::kAnyone},
      {'S', "setup", UiRight::kAnyone},
      {'E', "", UiRight::kAnyone},
      {'F', "a=1", UiRight::kAnyone},
      {'R', "", UiRight::kAnyone},
      {'X', "", UiRight::kAnyone},
      {'Q', "anything", UiRight::kAnyone},
      {'L', "1 7", UiRight::kAdministrator},
      {'L', "malformed", UiRight::kAdministrator},
      {'P', "1 . 0 0 . . .", UiRight::kAdministrator},
      {'U', "http://upload.example/internal", UiRight::kAnyone},
      {'U', "https://UPLOAD.Example:8443/x", UiRight::kAnyone},
      {'U', "http%3A%2F%2Fupload.example%2Fx", UiRight::kAnyone},
      {'U', "http://evil.example/x", UiRight::kAdministrator},
      {'U', "http://upload.example.evil/x", UiRight::kAdministrator},
      {'U', "http://evil.example/upload.example", UiRight::kAdministrator},
      {'U', "not a url", UiRight::kAnyone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.code) + " " + c.rest);
    EXPECT_EQ(RightNeeded(c.code, c.rest, "upload.example"), c.right);
  }
}

TEST(LogSafeTextTest, ControlCharactersAreEscapedAndLongTextIsCut) {
  struct Case {
    std::string text;
    std::string logged;
  };
  const Case cases[] = {
      {"plain \\\\.\\pipe\\X 100%", "plain \\\\.\\pipe\\X 100%"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string("\x1b[2J\0\x7f", 6), "\\x1b[2J\\x00\\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},
      {std::string(300, 'x'), std::string(256, 'x') + "... (44 more bytes)"},
      // An escape never straddles the cut.
      {std::string(255, 'x') + "\n\n", std::string(255, 'x') + "... (2 more bytes)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LogSafeText(c.text), c.logged);
  }
}

class UiTrustTest : public ::testing::Test {
 protected:
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& line : hooks.Lines()) texts.push_back(line.text);
    return texts;
  }
  // Nothing the message could have changed has changed.
  void ExpectNothingDone() const {
    EXPECT_TRUE(hooks.Writes().empty());
    EXPECT_TRUE(hooks.Logging().empty());
    EXPECT_TRUE(hooks.Proxies().empty());
    EXPECT_TRUE(hooks.Requests().empty());
    EXPECT_TRUE(hooks.Replies().empty());
    EXPECT_TRUE(engine.Actions().empty());
  }

  const UiSender alice = UserSender(1000);
  const UiSender bob = UserSender(1001);
  VirtualClock clock;
  RecordingSessionControl engine;
  RecordingPipeHooks hooks;
  ServicePipe pipe{engine, hooks, clock, nullptr};
};

TEST_F(UiTrustTest, ConfigurationMessagesOfOtherUsersAreRefusedOnceASecondAndChangeNothing) {
  const char* refused[] = {"P @ui 3 . 0 0 . proxy.evil:3128 .", "L @ui 1 7", "L @ui 0 0",
                           "U @ui http://evil.example/collect"};
  for (const char* message : refused) {
    SCOPED_TRACE(message);
    hooks.Clear();
    clock.Advance(1s);
    pipe.OnMessage(alice, message);
    pipe.OnMessage(alice, message);  // the same second: not logged again
    ExpectNothingDone();
    EXPECT_EQ(Texts(), std::vector<std::string>{std::string("UI [@ui]: ") + message[0] +
                                                " refused for uid 1000"});
    EXPECT_EQ(hooks.Lines()[0].level, LogLevel::kIgnored);
  }
  // Bob's refusals are his own line, in the same second.
  hooks.Clear();
  pipe.OnMessage(bob, "L @ui 1 7");
  EXPECT_EQ(Texts(), std::vector<std::string>{"UI [@ui]: L refused for uid 1001"});
  EXPECT_EQ(hooks.endpoints.Size(), 0u) << "a refused message names no endpoint";
}

TEST_F(UiTrustTest, AdministratorsAndTheConfiguredServerPass) {
  hooks.authority.Add(alice.user);
  pipe.OnMessage(alice, "L @ui 1 7");
  pipe.OnMessage(alice, "P @ui 3 . 0 0 . proxy.example:3128 .");
  pipe.OnMessage(alice, "U @ui http://elsewhere.example/x");
  EXPECT_EQ(hooks.Logging(), std::vector<std::string>{"1 7"});
  EXPECT_EQ(hooks.Proxies().size(), 1u);
  // Anyone may have the configured server asked.
  pipe.OnMessage(bob, "U @ui http://upload.example/internal");
  const auto requests = hooks.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].request.host, "upload.example");
  EXPECT_EQ(requests[1].context->sender, bob);
  pipe.OnMessage(RootSender(), "L @ui 0 7");
  EXPECT_EQ(hooks.Logging(), (std::vector<std::string>{"1 7", "0 7"}));
}

TEST_F(UiTrustTest, TheSameNameFromTwoUsersIsTwoContexts) {
  pipe.OnMessage(alice, "S @shared setup");
  pipe.OnMessage(bob, "F @shared password=stolen");
  pipe.OnMessage(bob, "T @shared");
  const auto actions = engine.Actions();
  ASSERT_EQ(actions.size(), 2u);
  const Context alices = actions[0].context;
  const Context bobs = actions[1].context;
  EXPECT_NE(alices, bobs) << "the engine tells the form of another user from its owner's";
  EXPECT_EQ(alices->sender, alice);
  EXPECT_EQ(bobs->sender, bob);
  EXPECT_EQ(alices->name, bobs->name);
  EXPECT_EQ(engine.SessionContext(), alices);
  ASSERT_EQ(hooks.Replies().size(), 1u);
  EXPECT_EQ(hooks.Replies()[0].context, bobs) << "an answer goes to its own asker";
}

TEST_F(UiTrustTest, TenThousandStatusRunsAreAllAnsweredAndTheTableStaysSmall) {
  for (int i = 0; i < 10000; ++i) {
    pipe.OnMessage(alice, "T @pelluxctl-1000-" + std::to_string(i));
    if (i % 100 == 0) clock.Advance(1s);
  }
  EXPECT_EQ(hooks.Replies().size(), 10000u);
  EXPECT_LE(hooks.endpoints.Size(), ReplyEndpoints::kMaxPerUser);
  // Another user's names are untouched by all that.
  pipe.OnMessage(bob, "T @bob");
  EXPECT_EQ(hooks.Replies().size(), 10001u);
}

TEST_F(UiTrustTest, AHeldContextOutlivesTheChurnAndTheLinger) {
  pipe.OnMessage(alice, "S @session setup");
  const Context session = engine.SessionContext();
  ASSERT_NE(session, kNoContext);
  pipe.OnMessage(alice, "U @pending http://upload.example/x");
  const Context pending = hooks.Requests().at(0).context;
  hooks.endpoints.Hold(pending);  // as the bridge does while the request is in flight
  for (int i = 0; i < 500; ++i) {
    pipe.OnMessage(alice, "T @churn-" + std::to_string(i));
    clock.Advance(1s);
  }
  EXPECT_EQ(pipe.ContextFor(alice, "@session"), session);
  EXPECT_EQ(pipe.ContextFor(alice, "@pending"), pending);
  // Once let go of, the names go after their linger.
  hooks.endpoints.Release(pending);
  pipe.OnMessage(alice, "E @session");
  ASSERT_EQ(engine.SessionContext(), kNoContext);
  clock.Advance(ReplyEndpoints::kLinger + 1s);
  pipe.OnMessage(alice, "T @another");
  EXPECT_EQ(hooks.endpoints.Find(alice.user, "@pending"), kNoContext);
  EXPECT_EQ(hooks.endpoints.Find(alice.user, "@session"), kNoContext);
}

TEST_F(UiTrustTest, AUserWhoseNamesAreAllHeldIsRefusedANewOneAndOthersAreNot) {
  ReplyEndpoints& endpoints = hooks.endpoints;
  for (std::size_t i = 0; i < ReplyEndpoints::kMaxPerUser; ++i) {
    const Context made = endpoints.Intern(alice, "@held-" + std::to_string(i), clock.Now(), {});
    ASSERT_NE(made, kNoContext);
    endpoints.Hold(made);
  }
  pipe.OnMessage(alice, "T @one-more");
  EXPECT_TRUE(hooks.Replies().empty());
  ASSERT_EQ(hooks.Lines().size(), 1u);
  EXPECT_EQ(hooks.Lines()[0].text,
            "UI: Ignoring a message of uid 1000 whose reply name (9 bytes) is refused: names are "
            "at most 256 bytes, and 64 at a time that are in use");
  pipe.OnMessage(bob, "T @bob");
  EXPECT_EQ(hooks.Replies().size(), 1u);
}

TEST_F(UiTrustTest, UiTextInTheLogCannotForgeALineOrFloodIt) {
  hooks.authority.Add(alice.user);
  const std::string forged = "\n01/01 00:00:00 <<< LOGGING DISABLED BY USER >>>\n";
  pipe.OnMessage(alice, "Q @ui\x1b[31m " + forged + std::string(60000, 'q'));
  pipe.OnMessage(alice, "U @ui http://upload.example/" + std::string(60000, 'a'));
  pipe.OnMessage(alice, "P @ui 1 . 0 0 . proxy%0A<<<%20LOG%20ROLL%20>>> .");
  const auto lines = Texts();
  ASSERT_EQ(lines.size(), 6u);
  for (const std::string& line : lines) {
    // The proxy line is ours, with its own line breaks: seven fields, each on a line.
    const bool proxyLine = line.rfind("UI: Proxy configuration:", 0) == 0;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), proxyLine ? 7 : 0) << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    EXPECT_LT(line.size(), 600u);
  }
  EXPECT_EQ(lines[0], "UI [@ui\\x1b[31m]: Q");
  EXPECT_EQ(lines[1].rfind("UI: unknown message: Q @ui\\x1b[31m \\n01/01 00:00:00 <<< LOGGING", 0),
            0u);
  EXPECT_NE(lines[5].find("\tServer: proxy\\n<<< LOG ROLL >>>\n"), std::string::npos) << lines[5];
  ASSERT_EQ(hooks.Requests().size(), 1u) << "the request itself goes out whole";
  EXPECT_EQ(hooks.Requests()[0].request.path.size(), 60001u);
}

TEST(ReplyEndpointsTest, KeyedByUserAndNameAndLetGoOnlyWhenNothingHoldsThem) {
  ReplyEndpoints endpoints;
  const auto start = std::chrono::system_clock::time_point{} + 1000h;
  const UiSender alice = UserSender(1000);
  const Context a = endpoints.Intern(alice, "@a", start, {});
  EXPECT_EQ(endpoints.Intern(alice, "@a", start + 10s, {}), a);
  EXPECT_NE(endpoints.Intern(UserSender(1001), "@a", start, {}), a);
  EXPECT_EQ(endpoints.Intern(alice, "", start, {}), kNoContext);
  EXPECT_EQ(endpoints.Intern(alice, std::string(ReplyEndpoints::kMaxNameBytes + 1, 'n'), start, {}),
            kNoContext);
  // Kept through its linger after the last message (at 10 s), then let go unless held.
  const Context b = endpoints.Intern(alice, "@b", start, {});
  endpoints.Hold(b);
  endpoints.Intern(alice, "@c", start + 10s + ReplyEndpoints::kLinger - 1s, {a});
  EXPECT_EQ(endpoints.Find(alice.user, "@a"), a);
  endpoints.Intern(alice, "@c", start + 10s + ReplyEndpoints::kLinger + 1s, {a});
  EXPECT_EQ(endpoints.Find(alice.user, "@a"), a) << "held by the engine";
  EXPECT_EQ(endpoints.Find(alice.user, "@b"), b) << "held by a request";
  endpoints.Intern(alice, "@c", start + 10s + ReplyEndpoints::kLinger + 2s, {});
  EXPECT_EQ(endpoints.Find(alice.user, "@a"), kNoContext);
  EXPECT_EQ(endpoints.Find(alice.user, "@b"), b);
  endpoints.Release(b);
  endpoints.Intern(alice, "@c", start + 10s + ReplyEndpoints::kLinger + 3s, {});
  EXPECT_EQ(endpoints.Find(alice.user, "@b"), kNoContext);
}

TEST(ReplyEndpointsTest, AtTheUsersCapTheOldestUnheldNameMakesRoom) {
  ReplyEndpoints endpoints;
  const auto now = std::chrono::system_clock::time_point{} + 1000h;
  const UiSender alice = UserSender(1000);
  const Context oldest = endpoints.Intern(alice, "@0", now, {});
  endpoints.Hold(oldest);
  for (std::size_t i = 1; i < ReplyEndpoints::kMaxPerUser; ++i) {
    endpoints.Intern(alice, "@" + std::to_string(i), now + std::chrono::milliseconds(i), {});
  }
  EXPECT_EQ(endpoints.Size(), ReplyEndpoints::kMaxPerUser);
  EXPECT_NE(endpoints.Intern(alice, "@new", now + 1s, {}), kNoContext);
  EXPECT_EQ(endpoints.Size(), ReplyEndpoints::kMaxPerUser);
  EXPECT_EQ(endpoints.Find(alice.user, "@0"), oldest) << "held, so kept";
  EXPECT_EQ(endpoints.Find(alice.user, "@1"), kNoContext) << "the oldest not held went";
}

}  // namespace
}  // namespace Pellux
