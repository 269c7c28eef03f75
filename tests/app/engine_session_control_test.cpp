// The UI channel over the real engine (with a scripted radio): what a UI's messages do to
// sessions, and what a status poll reads back.

#include "app/engine_session_control.h"

#include <gtest/gtest.h>

#include "tests/session/engine_fixture.h"
#include "tests/support/fixed_authority.h"
#include "tests/support/recording_pipe_hooks.h"
#include "ui/channel/service_pipe.h"

namespace Pellux {
namespace {

// The tests of what messages do send as root, who may send all of them.
const UiSender kUi = RootSender();

using namespace std::chrono_literals;

class PipeOverEngineTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    control = std::make_unique<EngineSessionControl>(*manager);
    pipe = std::make_unique<ServicePipe>(*control, hooks, clock, nullptr);
  }
  // The pipe goes before the engine it calls.
  void TearDown() override {
    pipe.reset();
    control.reset();
    EngineTest::TearDown();
  }

  std::string LastReply() const {
    const auto replies = hooks.Replies();
    return replies.empty() ? std::string("(none)") : replies.back().text;
  }

  RecordingPipeHooks hooks;
  std::unique_ptr<EngineSessionControl> control;
  std::unique_ptr<ServicePipe> pipe;
};

TEST_F(PipeOverEngineTest, StatusPollReadsTheStationAndTheLastSleep) {
  pipe->OnMessage(kUi, "T @ui");
  EXPECT_EQ(LastReply(), "0 0");
  Act("basestationconnect", "SERIAL1");
  pipe->OnMessage(kUi, "T @ui");
  EXPECT_EQ(LastReply(), "1 0");
  Radio([this] { manager->SleepTracker(); });
  pipe->OnMessage(kUi, "T @ui");
  EXPECT_EQ(LastReply(), "1 " + std::to_string(EpochSeconds(clock.Now())));
}

TEST_F(PipeOverEngineTest, SessionBelongsToTheUiThatStartedItUntilItFinishes) {
  pipe->OnMessage(kUi, "S @a setup");
  const Context a = pipe->ContextFor(kUi, "@a");
  EXPECT_EQ(manager->Mode(), "setup");
  EXPECT_EQ(manager->SessionContext(), a);

  pipe->OnMessage(kUi, "S @b setup");  // another UI is refused
  EXPECT_EQ(manager->SessionContext(), a);
  pipe->OnMessage(kUi, "E @b");
  EXPECT_EQ(manager->Mode(), "setup");

  pipe->OnMessage(kUi, "E @a");
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_EQ(manager->SessionContext(), kNoContext);
}

TEST_F(PipeOverEngineTest, WatchdogFinishesTheSessionOfASilentUi) {
  pipe->OnMessage(kUi, "S @a setup");
  clock.Advance(4000ms);
  pipe->OnMessage(kUi, "T @a");
  clock.Advance(4000ms);
  EXPECT_EQ(manager->Mode(), "setup") << "polled in time";
  clock.Advance(1000ms);
  EXPECT_EQ(manager->Mode(), "standard");
  EXPECT_EQ(hooks.Count("Pellux Service Manager application has died unexpectedly during setup "
                        "mode.  Forcing session to finish..."),
            1u);
}

}  // namespace
}  // namespace Pellux
