#include "base/guarded_timer.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "sim/virtual_clock.h"
#include "tests/base/event_loop.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class GuardedTimerTest : public ::testing::Test {
 protected:
  // Lock held.
  void Arm(std::chrono::milliseconds delay, const std::string& name) {
    timer.Start(delay, [this, name] { fired.push_back(name); });
  }

  std::vector<std::string> Fired() {
    std::lock_guard guard(lock);
    return fired;
  }

  VirtualClock clock;
  std::recursive_mutex lock;
  EventLoop loop;
  std::vector<std::string> fired;  // guarded by lock
  GuardedTimer timer{clock.CreateTimer(loop.Executor()), lock};
};

TEST_F(GuardedTimerTest, LiveExpiryRunsItsHandlerOnceWithTheLockHeld) {
  bool heldDuringHandler = false;
  {
    std::lock_guard guard(lock);
    timer.Start(1000ms, [this, &heldDuringHandler] {
      // Another thread cannot take the lock while the handler runs.
      heldDuringHandler = !std::async(std::launch::async, [this] {
                             const bool taken = lock.try_lock();
                             if (taken) lock.unlock();
                             return taken;
                           }).get();
      fired.push_back("first");
    });
    EXPECT_TRUE(timer.IsPending());
  }
  clock.Advance(999ms);
  EXPECT_TRUE(Fired().empty());
  clock.Advance(1ms);
  EXPECT_EQ(Fired(), std::vector<std::string>{"first"});
  EXPECT_TRUE(heldDuringHandler);
  std::lock_guard guard(lock);
  EXPECT_FALSE(timer.IsPending());
}

TEST_F(GuardedTimerTest, ExpiryOnItsWayIsDroppedWhenTheTimerChangedUnderTheLock) {
  struct Case {
    const char* name;
    std::function<void()> change;  // runs with the lock held, after the deadline passed
    std::vector<std::string> firedLater;
  };
  const std::vector<Case> cases{
      {"re-armed", [this] { Arm(1000ms, "second"); }, {"second"}},
      {"cancelled", [this] { timer.Cancel(); }, {}},
      {"re-armed, then cancelled",
       [this] {
         Arm(1000ms, "second");
         timer.Cancel();
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::lock_guard guard(lock);
      fired.clear();
      Arm(1000ms, "first");
      // The deadline passes while this thread holds the lock: the expiry waits for it.
      clock.Release(1000ms);
      c.change();
    }
    clock.Settle();
    EXPECT_TRUE(Fired().empty());
    clock.Advance(1000ms);
    EXPECT_EQ(Fired(), c.firedLater);
  }
}

}  // namespace
}  // namespace Pellux
