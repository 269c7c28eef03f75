#include "base/guarded_timer.h"

#include <utility>

namespace Pellux {

GuardedTimer::GuardedTimer(std::unique_ptr<OneShotTimer> timer, std::recursive_mutex& lock)
    : timer_(std::move(timer)), lock_(lock) {}

void GuardedTimer::Start(std::chrono::milliseconds delay, Handler handler) {
  const std::uint64_t armed = ++generation_;
  pending_ = true;
  timer_->Start(delay, [this, armed, handler = std::move(handler)](bool cancelled) {
    // A cancelled wait is stale by definition: no need to queue for the lock to find out.
    if (cancelled) return;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (armed != generation_) return;
    pending_ = false;
    handler();
  });
}

void GuardedTimer::Cancel() {
  ++generation_;
  pending_ = false;
  timer_->Cancel();
}

}  // namespace Pellux
