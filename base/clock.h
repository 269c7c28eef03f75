#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace Pellux {

// A one-shot deadline timer whose handler runs on the executor it was created for.
// Not thread-safe: callers serialise Start and Cancel (the engine does so under its lock).
class OneShotTimer {
 public:
  // `cancelled` is true when the wait ended because of Cancel or a later Start.
  using Handler = std::function<void(bool cancelled)>;

  virtual ~OneShotTimer() = default;

  // Arms the timer. A wait still pending is cancelled first, and its handler runs with
  // cancelled = true.
  virtual void Start(std::chrono::milliseconds delay, Handler handler) = 0;
  // Ends a pending wait; its handler runs with cancelled = true. Without a pending wait this
  // does nothing.
  virtual void Cancel() = 0;
};

// The source of every "now", sleep and timer of the engine, so that tests can run a ten-minute
// watchdog in virtual time.
class Clock {
 public:
  virtual ~Clock() = default;

  // Wall-clock time, as stored in activity stamps and reported to the UI.
  [[nodiscard]] virtual std::chrono::system_clock::time_point Now() const = 0;
  // Blocks the calling thread for `duration` (virtual clocks only move their time).
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  virtual std::unique_ptr<OneShotTimer> CreateTimer(boost::asio::any_io_executor executor) = 0;
};

// Whole seconds since 1970 of `time`, as activity stamps are kept.
inline std::int64_t EpochSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

// The real clock: system time, std::this_thread::sleep_for and Asio steady timers.
class SystemClock final : public Clock {
 public:
  [[nodiscard]] std::chrono::system_clock::time_point Now() const override;
  void Sleep(std::chrono::milliseconds duration) override;
  std::unique_ptr<OneShotTimer> CreateTimer(boost::asio::any_io_executor executor) override;

  // The process-wide instance for production code.
  static SystemClock& Instance();
};

}  // namespace Pellux
