#include "base/clock.h"

#include <boost/asio/error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <thread>

namespace Pellux {
namespace {

class SteadyOneShotTimer final : public OneShotTimer {
 public:
  explicit SteadyOneShotTimer(const boost::asio::any_io_executor& executor) : timer_(executor) {}

  void Start(std::chrono::milliseconds delay, Handler handler) override {
    // expires_after cancels a pending wait, whose handler then sees operation_aborted.
    timer_.expires_after(delay);
    timer_.async_wait([handler = std::move(handler)](const boost::system::error_code& error) {
      handler(error == boost::asio::error::operation_aborted);
    });
  }

  void Cancel() override { timer_.cancel(); }

 private:
  boost::asio::steady_timer timer_;
};

}  // namespace

std::chrono::system_clock::time_point SystemClock::Now() const {
  return std::chrono::system_clock::now();
}

void SystemClock::Sleep(std::chrono::milliseconds duration) {
  std::this_thread::sleep_for(duration);
}

std::unique_ptr<OneShotTimer> SystemClock::CreateTimer(boost::asio::any_io_executor executor) {
  return std::make_unique<SteadyOneShotTimer>(std::move(executor));
}

SystemClock& SystemClock::Instance() {
  static SystemClock clock;
  return clock;
}

}  // namespace Pellux
