#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace Pellux {

// Tells the daemon when the system goes to sleep and wakes, from logind's PrepareForSleep on
// the system bus. It holds a delay inhibitor while the system is awake, so that the suspend
// waits until the daemon has handed its disconnect on; the inhibitor is let go once the
// handler for the suspend returned, and taken again after the resume.
//
// Threads: Start and Stop on the daemon's main thread; the handler runs on the watcher's own
// thread.
class SleepWatcher {
 public:
  // `suspending` is true before the sleep, false after the wake.
  using Handler = std::function<void(bool suspending)>;
  using Problem = std::function<void(const std::string& line)>;

  SleepWatcher(Handler handler, Problem problem);
  SleepWatcher(const SleepWatcher&) = delete;
  SleepWatcher& operator=(const SleepWatcher&) = delete;
  ~SleepWatcher();

  // Connects to the system bus, takes the inhibitor, listens for the signal and starts the
  // thread. False, with the reason told, when the bus or the signal cannot be had; the daemon
  // then runs without sleep events.
  bool Start();
  // Ends the thread, lets the inhibitor go and closes the connection. Harmless when not
  // started.
  void Stop();

  // Whether the watcher holds its inhibitor now (for tests).
  [[nodiscard]] bool HoldsInhibitor() const { return inhibitor_.load() >= 0; }

 private:
  static int OnSignal(sd_bus_message* message, void* self, sd_bus_error* error);
  void TakeInhibitor();
  void ReleaseInhibitor();

  Handler handler_;
  Problem problem_;
  sd_bus* bus_ = nullptr;
  std::atomic<int> inhibitor_{-1};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace Pellux
