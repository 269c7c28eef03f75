// The start and stop waits of the service switches in virtual time, against a scripted
// service manager.

#include "service/service_waits.h"

#include <gtest/gtest.h>

#include <deque>

#include "sim/virtual_clock.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
constexpr auto kStopped = ServiceState::kStopped;
constexpr auto kStartPending = ServiceState::kStartPending;
constexpr auto kStopPending = ServiceState::kStopPending;
constexpr auto kRunning = ServiceState::kRunning;

// Answers queries from a script (nullopt: the query fails) and notes when each was asked.
class ScriptedManager {
 public:
  ScriptedManager(VirtualClock& clock, std::deque<std::optional<ServiceState>> answers)
      : clock_(clock), answers_(std::move(answers)), start_(clock.Now()) {}
  ServiceStateQuery Query() {
    return [this]() -> std::optional<ServiceState> {
      asked.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(clock_.Now() - start_));
      if (answers_.empty()) return last_;
      last_ = answers_.front();
      answers_.pop_front();
      return last_;
    };
  }
  std::vector<std::chrono::milliseconds> asked;

 private:
  VirtualClock& clock_;
  std::deque<std::optional<ServiceState>> answers_;
  std::optional<ServiceState> last_;
  std::chrono::system_clock::time_point start_;
};

TEST(ServiceWaitsTest, StartWaitsWhileTheCheckpointGrowsAndGivesUpAfterTheWaitHint) {
  VirtualClock clock;
  ServiceWaits waits(clock);
  // A hint of 30 s sleeps 3 s; progress twice, then none for more than the hint.
  ScriptedManager manager(
      clock, {ServiceState{kStartPending, 2, 30000}, ServiceState{kStartPending, 3, 30000}});
  const auto last = waits.WaitWhileStartPending({kStartPending, 1, 30000}, manager.Query());
  EXPECT_EQ(last.state, kStartPending);
  // 3 s, 6 s (progress), then 9 s ... 36 s: more than 30 s since the last progress at 6 s.
  ASSERT_EQ(manager.asked.size(), 13u);
  EXPECT_EQ(manager.asked.front(), 3000ms);
  EXPECT_EQ(manager.asked.back(), 39000ms);

  // The sleep is clamped to 1..10 s; running ends the wait, and so does a failing query.
  ScriptedManager quick(clock, {ServiceState{kRunning, 0, 0}});
  EXPECT_EQ(waits.WaitWhileStartPending({kStartPending, 0, 500}, quick.Query()).state, kRunning);
  EXPECT_EQ(quick.asked, std::vector<std::chrono::milliseconds>{1000ms});
  ScriptedManager slow(clock, {std::nullopt});
  waits.WaitWhileStartPending({kStartPending, 0, 600000}, slow.Query());
  EXPECT_EQ(slow.asked, std::vector<std::chrono::milliseconds>{10000ms});
}

TEST(ServiceWaitsTest, StopSendsTheControlAndWaitsForStoppedWithinThirtySeconds) {
  VirtualClock clock;
  ServiceWaits waits(clock);
  int stopsSent = 0;
  const auto send = [&] { return ++stopsSent, true; };

  ScriptedManager running(clock, {ServiceState{kRunning, 0, 0}, ServiceState{kStopPending, 1, 2000},
                                  ServiceState{kStopped, 0, 0}});
  EXPECT_EQ(waits.StopAndWait(running.Query(), send, clock.Now())->state, kStopped);
  EXPECT_EQ(stopsSent, 1);
  // A hint of 0 still sleeps a little between queries.
  EXPECT_EQ(running.asked, (std::vector<std::chrono::milliseconds>{0ms, 100ms, 2100ms}));

  // Already stopped, or the first query fails: nothing is sent.
  ScriptedManager stopped(clock, {ServiceState{kStopped, 0, 0}});
  EXPECT_EQ(waits.StopAndWait(stopped.Query(), send, clock.Now())->state, kStopped);
  ScriptedManager failing(clock, {std::nullopt});
  EXPECT_FALSE(waits.StopAndWait(failing.Query(), send, clock.Now()));
  EXPECT_EQ(stopsSent, 1);

  // A stop already pending is waited out, and nothing more is sent once it has stopped.
  ScriptedManager pending(clock,
                          {ServiceState{kStopPending, 1, 5000}, ServiceState{kStopPending, 2, 5000},
                           ServiceState{kStopped, 0, 0}});
  EXPECT_EQ(waits.StopAndWait(pending.Query(), send, clock.Now())->state, kStopped);
  EXPECT_EQ(stopsSent, 1);

  // A service that never stops is given 30 s from the start of the operation.
  ScriptedManager stuck(clock, {ServiceState{kRunning, 0, 4000}});
  const auto started = clock.Now();
  EXPECT_EQ(waits.StopAndWait(stuck.Query(), send, started)->state, kRunning);
  EXPECT_EQ(stopsSent, 2);
  EXPECT_EQ(stuck.asked.back(), 32000ms);

  // A refused stop control ends it.
  ScriptedManager refused(clock, {ServiceState{kRunning, 0, 0}});
  EXPECT_EQ(waits
                .StopAndWait(
                    refused.Query(), [] { return false; }, clock.Now())
                ->state,
            kRunning);
  EXPECT_EQ(refused.asked.size(), 1u);
}

}  // namespace
}  // namespace Pellux
