#include "sim/virtual_clock.h"

#include <gtest/gtest.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "tests/base/event_loop.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(VirtualClockTest, FiresTimersInDeadlineOrderAndOnlyWhenDue) {
  VirtualClock clock;
  EventLoop loop;
  std::vector<std::string> fired;  // written on the loop thread, read after Advance returns
  auto late = clock.CreateTimer(loop.Executor());
  auto early = clock.CreateTimer(loop.Executor());
  late->Start(3000ms, [&](bool cancelled) { fired.push_back(cancelled ? "late!" : "late"); });
  early->Start(1000ms, [&](bool cancelled) { fired.push_back(cancelled ? "early!" : "early"); });

  clock.Advance(999ms);
  EXPECT_TRUE(fired.empty());
  clock.Advance(1ms);
  EXPECT_EQ(fired, (std::vector<std::string>{"early"}));
  clock.Advance(5000ms);
  EXPECT_EQ(fired, (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(clock.PendingTimers(), 0u);
}

TEST(VirtualClockTest, RestartAndCancelDeliverCancelledHandlers) {
  VirtualClock clock;
  EventLoop loop;
  std::vector<std::string> fired;
  auto timer = clock.CreateTimer(loop.Executor());
  timer->Start(1000ms, [&](bool cancelled) { fired.push_back(cancelled ? "first!" : "first"); });
  timer->Start(2000ms, [&](bool cancelled) { fired.push_back(cancelled ? "second!" : "second"); });
  clock.Advance(1500ms);
  loop.Drain();
  EXPECT_EQ(fired, (std::vector<std::string>{"first!"}));
  timer->Cancel();
  loop.Drain();
  clock.Advance(10s);
  EXPECT_EQ(fired, (std::vector<std::string>{"first!", "second!"}));
}

TEST(VirtualClockTest, HandlerMayArmAnotherTimerWithinTheSameAdvance) {
  VirtualClock clock;
  EventLoop loop;
  int ticks = 0;
  auto timer = clock.CreateTimer(loop.Executor());
  std::function<void(bool)> tick = [&](bool cancelled) {
    if (cancelled) return;
    ++ticks;
    timer->Start(15s, tick);
  };
  timer->Start(15s, tick);
  clock.Advance(60s);
  EXPECT_EQ(ticks, 4);
  EXPECT_EQ(clock.Now(), VirtualClock().Now() + 60s);
}

TEST(VirtualClockTest, SleepMovesTimeButFiresNothingUntilAdvance) {
  VirtualClock clock;
  EventLoop loop;
  bool fired = false;
  auto timer = clock.CreateTimer(loop.Executor());
  timer->Start(1000ms, [&](bool cancelled) { fired = !cancelled; });
  const auto before = clock.Now();
  clock.Sleep(1500ms);
  EXPECT_EQ(clock.Now() - before, 1500ms);
  EXPECT_EQ(clock.TotalSlept(), 1500ms);
  loop.Drain();
  EXPECT_FALSE(fired);
  clock.Advance(0ms);
  EXPECT_TRUE(fired);
}

TEST(SystemClockTest, RealTimerFiresAndCancels) {
  EventLoop loop;
  auto timer = SystemClock::Instance().CreateTimer(loop.Executor());
  std::promise<bool> outcome;
  timer->Start(1ms, [&](bool cancelled) { outcome.set_value(cancelled); });
  EXPECT_FALSE(outcome.get_future().get());

  std::promise<bool> cancelledOutcome;
  timer->Start(10min, [&](bool cancelled) { cancelledOutcome.set_value(cancelled); });
  timer->Cancel();
  EXPECT_TRUE(cancelledOutcome.get_future().get());
}

}  // namespace
}  // namespace Pellux
