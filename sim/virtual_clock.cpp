#include "sim/virtual_clock.h"

#include <boost/asio/post.hpp>
#include <future>
#include <vector>

namespace Pellux {

class VirtualTimer final : public OneShotTimer {
 public:
  VirtualTimer(VirtualClock& clock, boost::asio::any_io_executor executor)
      : clock_(clock), executor_(std::move(executor)) {}
  VirtualTimer(const VirtualTimer&) = delete;
  VirtualTimer& operator=(const VirtualTimer&) = delete;
  // A destroyed timer's wait is dropped without running, as the engine destroys its timers
  // only after its event loop has stopped.
  ~VirtualTimer() override { clock_.Disarm(this, false); }

  void Start(std::chrono::milliseconds delay, Handler handler) override {
    clock_.Arm(this, delay, std::move(handler), executor_);
  }
  void Cancel() override { clock_.Disarm(this, true); }

 private:
  VirtualClock& clock_;
  boost::asio::any_io_executor executor_;
};

VirtualClock::VirtualClock()
    : VirtualClock(std::chrono::system_clock::time_point(std::chrono::seconds(1767225600))) {}

VirtualClock::VirtualClock(std::chrono::system_clock::time_point start) : now(start) {}

VirtualClock::~VirtualClock() = default;

std::chrono::system_clock::time_point VirtualClock::Now() const {
  std::lock_guard<std::mutex> guard(mutex);
  return now;
}

void VirtualClock::Sleep(std::chrono::milliseconds duration) {
  std::lock_guard<std::mutex> guard(mutex);
  now += duration;
  slept += duration;
}

std::unique_ptr<OneShotTimer> VirtualClock::CreateTimer(boost::asio::any_io_executor executor) {
  return std::make_unique<VirtualTimer>(*this, std::move(executor));
}

void VirtualClock::Arm(VirtualTimer* owner, std::chrono::milliseconds delay,
                       OneShotTimer::Handler handler,
                       const boost::asio::any_io_executor& executor) {
  Disarm(owner, true);
  std::lock_guard<std::mutex> guard(mutex);
  waits.emplace(Key{now + delay, nextSequence++}, Wait{owner, std::move(handler), executor});
}

void VirtualClock::Disarm(VirtualTimer* owner, bool notify) {
  std::vector<Wait> removed;
  {
    std::lock_guard<std::mutex> guard(mutex);
    for (auto it = waits.begin(); it != waits.end();) {
      if (it->second.owner == owner) {
        removed.push_back(std::move(it->second));
        it = waits.erase(it);
      } else {
        ++it;
      }
    }
  }
  if (!notify) return;
  for (auto& wait : removed) {
    Hand(wait.executor, [handler = std::move(wait.handler)] { handler(true); });
  }
}

void VirtualClock::Hand(const boost::asio::any_io_executor& executor,
                        std::function<void()> handler) {
  {
    std::lock_guard<std::mutex> guard(mutex);
    ++handedOut;
  }
  boost::asio::post(executor, [this, handler = std::move(handler)] {
    handler();
    std::lock_guard<std::mutex> guard(mutex);
    --handedOut;
    handedBack.notify_all();
  });
}

void VirtualClock::Release(std::chrono::milliseconds duration) {
  std::vector<Wait> due;
  {
    std::lock_guard<std::mutex> guard(mutex);
    const auto target = now + duration;
    while (!waits.empty() && waits.begin()->first.first <= target) {
      due.push_back(std::move(waits.begin()->second));
      waits.erase(waits.begin());
    }
    now = target;
  }
  for (auto& wait : due) {
    Hand(wait.executor, [handler = std::move(wait.handler)] { handler(false); });
  }
}

void VirtualClock::Settle() {
  std::unique_lock<std::mutex> guard(mutex);
  handedBack.wait(guard, [this] { return handedOut == 0; });
}

void VirtualClock::Advance(std::chrono::milliseconds duration) {
  std::chrono::system_clock::time_point target;
  {
    std::lock_guard<std::mutex> guard(mutex);
    target = now + duration;
  }
  for (;;) {
    Wait due{nullptr, nullptr, {}};
    {
      std::lock_guard<std::mutex> guard(mutex);
      auto first = waits.begin();
      if (first == waits.end() || first->first.first > target) {
        if (now < target) now = target;
        return;
      }
      if (now < first->first.first) now = first->first.first;
      due = std::move(first->second);
      waits.erase(first);
    }
    std::promise<void> done;
    boost::asio::post(due.executor, [&done, handler = std::move(due.handler)] {
      handler(false);
      done.set_value();
    });
    done.get_future().wait();
  }
}

std::size_t VirtualClock::PendingTimers() const {
  std::lock_guard<std::mutex> guard(mutex);
  return waits.size();
}

std::chrono::milliseconds VirtualClock::TotalSlept() const {
  std::lock_guard<std::mutex> guard(mutex);
  return slept;
}

}  // namespace Pellux
