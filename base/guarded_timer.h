#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "base/clock.h"

namespace Pellux {

// A one-shot timer for state guarded by one recursive lock. Its expiry is judged with that lock
// held: an expiry already on its way to the handler's thread when the timer was re-armed or
// cancelled (a real timer then still completes "successfully") is recognised as stale and
// dropped. A handler therefore runs only for the wait it was armed with, never for a cancelled
// one.
//
// Threads: Start, Cancel and IsPending are called with the lock held; the handler runs on the
// timer's executor with the lock held.
class GuardedTimer {
 public:
  using Handler = std::function<void()>;

  GuardedTimer(std::unique_ptr<OneShotTimer> timer, std::recursive_mutex& lock);
  GuardedTimer(const GuardedTimer&) = delete;
  GuardedTimer& operator=(const GuardedTimer&) = delete;

  // Arms the timer; a wait still pending is forgotten.
  void Start(std::chrono::milliseconds delay, Handler handler);
  // Forgets the pending wait, if any.
  void Cancel();
  [[nodiscard]] bool IsPending() const { return pending_; }

 private:
  std::unique_ptr<OneShotTimer> timer_;
  std::recursive_mutex& lock_;
  // Counts every Start and Cancel; an expiry belongs to the wait whose number it carries.
  std::uint64_t generation_ = 0;
  bool pending_ = false;
};

}  // namespace Pellux
