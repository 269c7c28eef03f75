#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "base/clock.h"

namespace Pellux {

class VirtualTimer;

// A clock whose time moves only when a test says so. Timers fire on their own executors, as
// real ones do, but only inside Advance, one after the other in deadline order; each handler
// has finished before time moves on, so a test reads a settled engine when Advance returns.
class VirtualClock final : public Clock {
 public:
  // Starts at 2026-01-01 00:00:00 UTC, a fixed time for deterministic stamps.
  VirtualClock();
  explicit VirtualClock(std::chrono::system_clock::time_point start);
  ~VirtualClock() override;

  [[nodiscard]] std::chrono::system_clock::time_point Now() const override;
  // Moves time on without running timers: the sleeping thread usually holds the lock that a
  // timer handler would need. Timers that fell due meanwhile fire at the next Advance.
  void Sleep(std::chrono::milliseconds duration) override;
  std::unique_ptr<OneShotTimer> CreateTimer(boost::asio::any_io_executor executor) override;

  // Moves time forward, firing every timer that falls due on the way. Must not be called from
  // a thread that a timer handler needs (an executor's thread, or while holding a lock the
  // handlers take).
  void Advance(std::chrono::milliseconds duration);
  // Moves time forward like Advance, but only hands each due expiry to its executor and does
  // not wait for it: as a real timer does when its deadline passes while the handler's thread
  // is busy, so that the expiry is already on its way when the test re-arms or cancels the
  // timer. May be called while holding a lock the handlers take.
  void Release(std::chrono::milliseconds duration);
  // Waits until every handler this clock has handed to an executor (released expiries and
  // cancelled waits) has run: only while every such executor still runs its loop. Same
  // restrictions as Advance.
  void Settle();

  [[nodiscard]] std::size_t PendingTimers() const;
  [[nodiscard]] std::chrono::milliseconds TotalSlept() const;

 private:
  friend class VirtualTimer;

  struct Wait {
    VirtualTimer* owner;
    OneShotTimer::Handler handler;
    boost::asio::any_io_executor executor;
  };
  // Ordered by deadline, then by arming order.
  using Key = std::pair<std::chrono::system_clock::time_point, std::uint64_t>;

  void Arm(VirtualTimer* owner, std::chrono::milliseconds delay, OneShotTimer::Handler handler,
           const boost::asio::any_io_executor& executor);
  // Removes the owner's pending wait; with `notify` its handler is posted as cancelled.
  void Disarm(VirtualTimer* owner, bool notify);
  // Posts `handler` to `executor`, counted until it has run.
  void Hand(const boost::asio::any_io_executor& executor, std::function<void()> handler);

  mutable std::mutex mutex;
  std::chrono::system_clock::time_point now;
  std::chrono::milliseconds slept{0};
  std::uint64_t nextSequence = 0;
  std::map<Key, Wait> waits;
  std::size_t handedOut = 0;
  std::condition_variable handedBack;
};

}  // namespace Pellux
