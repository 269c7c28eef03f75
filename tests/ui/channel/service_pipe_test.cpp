#include "ui/channel/service_pipe.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/log_level.h"
#include "sim/virtual_clock.h"
#include "tests/support/fixed_authority.h"
#include "tests/support/recording_pipe_hooks.h"
#include "tests/support/recording_session_control.h"

namespace Pellux {
namespace {

// The tests of what messages do send as root, who may send all of them.
const UiSender kUi = RootSender();

using namespace std::chrono_literals;
using Action = RecordingSessionControl::Action;

// The recording engine, with a way to act while the pipe asks it for the mode (the pipe's lock
// is held then), and a way to refuse "finish" as an engine owned by another UI does.
class TestEngine final : public SessionControl {
 public:
  void ProcessAction(const std::string& action, const std::string& argument,
                     Context context) override {
    if (refuseFinish && action == "finish") {
      refused.push_back({action, argument, context});
      return;
    }
    recorded.ProcessAction(action, argument, context);
  }
  [[nodiscard]] std::string Mode() const override {
    if (onMode) onMode();
    return recorded.Mode();
  }
  [[nodiscard]] Context SessionContext() const override { return recorded.SessionContext(); }
  [[nodiscard]] std::vector<Context> HeldContexts() const override {
    return recorded.HeldContexts();
  }
  [[nodiscard]] std::string ServerHost() const override { return recorded.ServerHost(); }
  [[nodiscard]] bool IsBaseStationOpen() const override { return recorded.IsBaseStationOpen(); }
  [[nodiscard]] std::int64_t LastSleepTime() const override { return recorded.LastSleepTime(); }
  [[nodiscard]] EngineRecord Status() const override { return recorded.Status(); }

  RecordingSessionControl recorded;
  std::function<void()> onMode;
  bool refuseFinish = false;
  std::vector<Action> refused;
};

class ServicePipeTest : public ::testing::Test {
 protected:
  static constexpr const char* kDied =
      "Pellux Service Manager application has died unexpectedly during setup mode.  Forcing "
      "session to finish...";

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& line : hooks.Lines()) texts.push_back(line.text);
    return texts;
  }

  VirtualClock clock;
  TestEngine engine;
  RecordingPipeHooks hooks;
  ServicePipe pipe{engine, hooks, clock, nullptr};
};

TEST_F(ServicePipeTest, StatusPollIsAnsweredAndNotLogged) {
  struct Case {
    bool open;
    std::int64_t lastSleep;
    const char* answer;
  };
  const Case cases[] = {{false, 0, "0 0"}, {true, 0, "1 0"}, {true, 1767225600, "1 1767225600"}};
  for (const Case& c : cases) {
    hooks.Clear();
    engine.recorded.SetStatus(c.open, c.lastSleep);
    pipe.OnMessage(kUi, "T \\\\.\\pipe\\X");
    ASSERT_EQ(hooks.Replies().size(), 1u);
    EXPECT_EQ(hooks.Replies()[0].text, c.answer);
    EXPECT_EQ(hooks.Replies()[0].context, pipe.ContextFor(kUi, "\\\\.\\pipe\\X"));
    EXPECT_TRUE(hooks.Lines().empty());
  }
  EXPECT_TRUE(engine.recorded.Actions().empty());
  EXPECT_EQ(clock.PendingTimers(), 0u) << "a poll in standard mode arms no watchdog";
}

TEST_F(ServicePipeTest, StatusRecordRequestIsAnsweredWithTheRecordAndNotLogged) {
  StatusRecord engineSide;
  engineSide.link = "searching";
  engineSide.lastUpload =
      StatusRecord::Upload{"standard", 50, 12, 3000, 2900, 100, 2, "succeeded", ""};
  engine.recorded.SetRecord(engineSide);
  engine.recorded.SetStatus(true, 40);
  hooks.service.version = "1.2.0";
  hooks.service.now = 100;
  hooks.service.startedAt = 10;
  hooks.service.logFile = "/logs/log.txt";
  hooks.service.proxy = "direct";

  pipe.OnMessage(kUi, "J @status");
  ASSERT_EQ(hooks.Records().size(), 1u);
  EXPECT_EQ(hooks.Records()[0].context, pipe.ContextFor(kUi, "@status"));
  StatusRecord expected = engineSide;
  expected.mode = "standard";
  expected.baseStation.open = true;
  expected.lastSleepTime = 40;
  expected.version = "1.2.0";
  expected.now = 100;
  expected.startedAt = 10;
  expected.logFile = "/logs/log.txt";
  expected.proxy = "direct";
  EXPECT_EQ(DecodeStatusRecord(hooks.Records()[0].text), expected) << hooks.Records()[0].text;
  EXPECT_TRUE(hooks.Lines().empty()) << "asked every second by a follower";
  EXPECT_TRUE(hooks.Replies().empty()) << "no T answer";
  EXPECT_TRUE(engine.recorded.Actions().empty());
  EXPECT_EQ(clock.PendingTimers(), 0u) << "the record is no poll of a UI session";
}

TEST_F(ServicePipeTest, AnotherUsersSessionShowsOnlyThatItRunsAndItsMode) {
  const UiSender owner = UiSender::FromUnixCredentials(1000, 1000, 10);
  const UiSender other = UiSender::FromUnixCredentials(1001, 1001, 11);
  StatusRecord engineSide;
  engineSide.session = StatusRecord::Session{true, "setup", 5, 6, 1, 300, 20, 1, 2};
  engine.recorded.SetRecord(engineSide);
  pipe.OnMessage(owner, "S @mine setup");

  struct Case {
    const char* who;
    UiSender sender;
    bool full;
  };
  const Case cases[] = {
      {"the owner", owner, true}, {"another user", other, false}, {"root", RootSender(), true}};
  for (const Case& c : cases) {
    hooks.Clear();
    pipe.OnMessage(c.sender, "J @asker");
    ASSERT_EQ(hooks.Records().size(), 1u) << c.who;
    const auto record = DecodeStatusRecord(hooks.Records()[0].text);
    ASSERT_TRUE(record && record->session) << c.who;
    StatusRecord::Session shown;
    shown.own = false;
    shown.mode = "setup";
    EXPECT_EQ(*record->session, c.full ? *engineSide.session : shown) << c.who;
    EXPECT_EQ(record->mode, "setup") << c.who;
  }
}

TEST_F(ServicePipeTest, EveryCodeIsLoggedAndBecomesItsAction) {
  struct Case {
    const char* message;
    char code;
    std::vector<std::pair<std::string, std::string>> actions;
  };
  const Case cases[] = {
      {"E @ui", 'E', {{"finish", ""}}},
      {"F @ui a=1&b=x y\n", 'F', {{"form", "a=1&b=x y\n"}}},
      {"R @ui", 'R', {{"refresh", "settings"}}},
      {"S @ui setup\n", 'S', {{"init", "setup"}}},
      {"S @ui standard", 'S', {{"init", "standard"}}},
      {"X @ui", 'X', {}},
  };
  const Context ui = pipe.ContextFor(kUi, "@ui");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    hooks.Clear();
    engine.recorded.ClearActions();
    pipe.OnMessage(kUi, c.message);
    EXPECT_EQ(Texts(), std::vector<std::string>{std::string("UI [@ui]: ") + c.code});
    ASSERT_EQ(hooks.Lines().size(), 1u);
    EXPECT_EQ(hooks.Lines()[0].level, LogLevel::kLifecycle);
    std::vector<Action> expected;
    for (const auto& [name, argument] : c.actions) expected.push_back({name, argument, ui});
    EXPECT_EQ(engine.recorded.Actions(), expected);
  }
}

TEST_F(ServicePipeTest, UnknownCodeIsLoggedTwice) {
  pipe.OnMessage(kUi, "Q \\\\.\\pipe\\X what is this");
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{"UI [\\\\.\\pipe\\X]: Q",
                                      "UI: unknown message: Q \\\\.\\pipe\\X what is this"}));
  EXPECT_EQ(hooks.Lines()[1].level, LogLevel::kIgnored);
  EXPECT_TRUE(engine.recorded.Actions().empty());
}

TEST_F(ServicePipeTest, SameReplyNameGivesTheSameContext) {
  const Context first = pipe.ContextFor(kUi, "@a");
  ASSERT_NE(first, kNoContext);
  EXPECT_EQ(first->name, "@a");
  EXPECT_EQ(first->sender, kUi);
  EXPECT_EQ(pipe.ContextFor(kUi, std::string("@") + "a"), first);
  EXPECT_NE(pipe.ContextFor(kUi, "@b"), first);
  pipe.OnMessage(kUi, "E @a");
  pipe.OnMessage(kUi, "F @b x");
  const auto actions = engine.recorded.Actions();
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_EQ(actions[0].context, first);
  EXPECT_EQ(actions[1].context, pipe.ContextFor(kUi, "@b"));
  EXPECT_EQ(pipe.ContextFor(kUi, ""), kNoContext);
  EXPECT_EQ(pipe.ContextFor(kUi, std::string(ReplyEndpoints::kMaxNameBytes + 1, 'n')), kNoContext);
  EXPECT_NE(pipe.ContextFor(kUi, std::string(ReplyEndpoints::kMaxNameBytes, 'n')), kNoContext);
}

TEST_F(ServicePipeTest, LoggingMessages) {
  struct Case {
    const char* message;
    std::vector<std::string> lines;
    std::vector<std::string> applied;
  };
  const Case cases[] = {
      {"L @ui 1 7", {"UI [@ui]: L", "UI: Turning logging ON, 7 max log days..."}, {"1 7"}},
      {"L @ui 1 0", {"UI [@ui]: L", "UI: Turning logging ON, 0 max log days..."}, {"1 0"}},
      {"L @ui 0 30", {"UI [@ui]: L", "UI: Turning logging OFF, 30 max log days..."}, {"0 30"}},
      {"L @ui 1",
       {"UI [@ui]: L", "UI: Ignoring a logging message without two integers: L @ui 1"},
       {}},
      {"L @ui on 7",
       {"UI [@ui]: L", "UI: Ignoring a logging message without two integers: L @ui on 7"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    hooks.Clear();
    pipe.OnMessage(kUi, c.message);
    EXPECT_EQ(Texts(), c.lines);
    EXPECT_EQ(hooks.Logging(), c.applied);
  }
}

TEST_F(ServicePipeTest, ProxyMessageStoresSevenSettingsAndReplacesTheTransports) {
  pipe.OnMessage(kUi, "P @ui 1 . -1 3 <local>;*.corp my%20proxy:8080 a+b");
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "UI [@ui]: P",
                         "UI: Proxy configuration:\n\tSelection: 1\n\tAuto-Config URL: "
                         "\n\tAuto-Discovery Flags: -1\n\tFlags: 3\n\tBypass: "
                         "<local>;*.corp\n\tServer: my proxy:8080\n\tServer Override: a+b"}));
  EXPECT_EQ(hooks.Writes(), (std::vector<std::string>{
                                "Tracker/ProxySelection=1",
                                "Tracker/ProxyAutoConfigURL=''",
                                "Tracker/ProxyAutoDiscoveryFlags=4294967295",
                                "Tracker/ProxyFlags=3",
                                "Tracker/ProxyBypass='<local>;*.corp'",
                                "Tracker/ProxyServer='my proxy:8080'",
                                "Tracker/ProxyServerOverride='a+b'",
                            }));
  ASSERT_EQ(hooks.Proxies().size(), 1u);
  EXPECT_EQ(hooks.Proxies()[0].server, "my proxy:8080");
  EXPECT_EQ(hooks.Proxies()[0].autoConfigUrl, "");
}

TEST_F(ServicePipeTest, ProxyMessageWithABadFieldChangesNothing) {
  const char* messages[] = {"P @ui 1 . 0 0 . . 50%", "P @ui 1 . 0 0 . %2", "P @ui 1 . 0 0 . .",
                            "P @ui one . 0 0 . . ."};
  for (const char* message : messages) {
    SCOPED_TRACE(message);
    hooks.Clear();
    pipe.OnMessage(kUi, message);
    ASSERT_EQ(hooks.Lines().size(), 2u);
    EXPECT_EQ(hooks.Lines()[1].level, LogLevel::kIgnored);
    EXPECT_EQ(hooks.Lines()[1].text.rfind("UI: Ignoring a proxy message (", 0), 0u);
    EXPECT_TRUE(hooks.Writes().empty());
    EXPECT_TRUE(hooks.Proxies().empty());
  }
}

TEST_F(ServicePipeTest, OpenUrlSendsAPostWithTheEnginesDefaults) {
  pipe.OnMessage(kUi, "U @ui not a url");
  pipe.OnMessage(kUi, "U @ui");
  EXPECT_TRUE(hooks.Requests().empty());
  EXPECT_EQ(Texts(), (std::vector<std::string>{"UI [@ui]: U", "UI [@ui]: U"}));

  hooks.Clear();
  pipe.OnMessage(kUi, "U @ui https://example.test/internal/page?x=1\n");
  pipe.OnMessage(kUi, "U @ui http://example.test:8080/p");
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{
                "UI [@ui]: U", "UI: Opening internal URL: https://example.test/internal/page?x=1",
                "UI [@ui]: U", "UI: Opening internal URL: http://example.test:8080/p"}));
  const auto requests = hooks.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const NetworkRequest& first = requests[0].request;
  EXPECT_EQ(first.method, "POST");
  EXPECT_EQ(first.protocol, "http");
  EXPECT_FALSE(first.secure);
  EXPECT_TRUE(first.reportResult);
  EXPECT_EQ(first.requestNumber, 0u);
  EXPECT_EQ(first.host, "example.test");
  EXPECT_EQ(first.port, 80);
  EXPECT_EQ(first.path, "/internal/page?x=1");
  EXPECT_EQ(requests[0].context, pipe.ContextFor(kUi, "@ui"));
  EXPECT_EQ(requests[1].request.port, 8080);
}

TEST_F(ServicePipeTest, HostileMessagesAreLoggedAndTheNextOneIsServed) {
  struct Case {
    std::string message;
    std::string line;
  };
  const std::string longName(ReplyEndpoints::kMaxNameBytes + 1, 'n');
  const Case cases[] = {
      {"", "UI: Ignoring an empty message from uid 0"},
      {" \r\n\t", "UI: Ignoring an empty message from uid 0"},
      {"E", "UI: Ignoring a message without a reply name: E"},
      {std::string("E @ui") + std::string(kMaxUiMessageBytes, 'x'),
       "UI: Ignoring a message of 65541 bytes (at most 65536) from uid 0"},
      {"E " + longName,
       "UI: Ignoring a message of uid 0 whose reply name (257 bytes) is refused: names are at "
       "most 256 bytes, and 64 at a time that are in use"},
      {"S @ui   \n", "UI: Ignoring a session message without a mode: S @ui   \\n"},
      {std::string("\0\xFF @ui", 6), "UI: unknown message: \\x00\xFF @ui"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    hooks.Clear();
    // Past the once-a-second limit of each kind of line.
    clock.Advance(1s);
    pipe.OnMessage(kUi, c.message);
    ASSERT_FALSE(hooks.Lines().empty());
    EXPECT_EQ(hooks.Lines().back().text, c.line);
    EXPECT_EQ(hooks.Lines().back().level, LogLevel::kIgnored);
    EXPECT_TRUE(engine.recorded.Actions().empty());
  }
  pipe.OnMessage(kUi, "R @ui");
  EXPECT_EQ(engine.recorded.Actions(),
            (std::vector<Action>{{"refresh", "settings", pipe.ContextFor(kUi, "@ui")}}));
}

TEST_F(ServicePipeTest, WatchdogFinishesAUiSessionWhoseUiStoppedPolling) {
  pipe.OnMessage(kUi, "S @ui setup");
  const Context ui = pipe.ContextFor(kUi, "@ui");
  clock.Advance(3000ms);
  pipe.OnMessage(kUi, "T @ui");  // restarts the wait: 5000 ms from here
  clock.Advance(4999ms);
  EXPECT_EQ(hooks.Count(kDied), 0u);
  clock.Advance(1ms);
  EXPECT_EQ(hooks.Count(kDied), 1u);
  EXPECT_EQ(engine.recorded.Actions(),
            (std::vector<Action>{{"init", "setup", ui}, {"finish", "", ui}}));
  clock.Advance(60s);
  EXPECT_EQ(hooks.Count(kDied), 1u);
}

TEST_F(ServicePipeTest, WatchdogFiresOncePerExpiryWhileTheSessionGoesOn) {
  engine.refuseFinish = true;
  pipe.OnMessage(kUi, "S @ui setup");
  clock.Advance(5000ms);
  EXPECT_EQ(hooks.Count(kDied), 1u);
  clock.Advance(30s);
  EXPECT_EQ(hooks.Count(kDied), 1u) << "an expiry is not repeated without a poll";
  pipe.OnMessage(kUi, "T @ui");
  clock.Advance(5000ms);
  EXPECT_EQ(hooks.Count(kDied), 2u);
  ASSERT_EQ(engine.refused.size(), 2u);
  EXPECT_EQ(engine.refused[1].context, pipe.ContextFor(kUi, "@ui"));
}

TEST_F(ServicePipeTest, WatchdogDoesNothingInStandardMode) {
  pipe.OnMessage(kUi, "S @ui setup");
  pipe.OnMessage(kUi, "E @ui");  // the recording engine is back in "standard"
  clock.Advance(10s);
  EXPECT_EQ(hooks.Count(kDied), 0u);
  EXPECT_EQ(engine.recorded.Actions().size(), 2u);
}

TEST_F(ServicePipeTest, StaleExpiryAfterARestartDoesNothing) {
  pipe.OnMessage(kUi, "S @ui setup");
  clock.Advance(4000ms);
  // While the poll is being handled (the pipe's lock held), the old wait runs out and its expiry
  // is handed to the timer thread; the poll then re-arms, so that expiry is stale.
  bool released = false;
  engine.onMode = [&] {
    if (released) return;
    released = true;
    clock.Release(1000ms);
  };
  pipe.OnMessage(kUi, "T @ui");
  clock.Settle();
  EXPECT_EQ(hooks.Count(kDied), 0u);
  clock.Advance(4999ms);
  EXPECT_EQ(hooks.Count(kDied), 0u);
  clock.Advance(1ms);
  EXPECT_EQ(hooks.Count(kDied), 1u);
}

TEST_F(ServicePipeTest, StopCancelsTheWatchdog) {
  pipe.OnMessage(kUi, "S @ui setup");
  pipe.Stop();
  clock.Advance(10s);
  EXPECT_EQ(hooks.Count(kDied), 0u);
  pipe.OnMessage(kUi, "T @ui");
  clock.Advance(10s);
  EXPECT_EQ(hooks.Count(kDied), 0u) << "a stopped pipe arms no watchdog";
  EXPECT_FALSE(pipe.Start()) << "no listener to start";
}

}  // namespace
}  // namespace Pellux
