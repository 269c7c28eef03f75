#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "base/clock.h"

namespace Pellux {

// A service's state as the service manager reports it.
struct ServiceState {
  static constexpr std::uint32_t kStopped = 1;
  static constexpr std::uint32_t kStartPending = 2;
  static constexpr std::uint32_t kStopPending = 3;
  static constexpr std::uint32_t kRunning = 4;

  std::uint32_t state = kStopped;
  std::uint32_t checkpoint = 0;
  std::uint32_t waitHintMs = 0;
};

// Asks the service manager for the service's state; nullopt when the query failed.
using ServiceStateQuery = std::function<std::optional<ServiceState>()>;

// The waits of the service program's /S and /P (and of the rebooter, which stops and starts
// the service the same way), apart from the service manager they talk to, so that they run in
// virtual time in tests. `clock` sleeps and tells the time.
class ServiceWaits {
 public:
  // How long /P waits for the service to stop, from the start of the operation.
  static constexpr std::chrono::milliseconds kStopLimit{30000};
  // A wait hint of 0 would have the stop loop query without pause: it sleeps at least this.
  static constexpr std::chrono::milliseconds kShortestStopSleep{100};

  explicit ServiceWaits(Clock& clock) : clock_(clock) {}

  // After an accepted start request, with the state `first` queried right after it: waits
  // while the service is start-pending, sleeping a tenth of the wait hint (1 to 10 seconds),
  // until the checkpoint stops growing for longer than the wait hint or a query fails. Returns
  // the last state known.
  ServiceState WaitWhileStartPending(ServiceState first, const ServiceStateQuery& query);

  // The stop procedure once the service is open: waits out a pending stop, sends the stop
  // control with `sendStop` (true when accepted) and waits for the stopped state, all within
  // kStopLimit of `started`. Returns the last state known (nullopt when a query failed first).
  std::optional<ServiceState> StopAndWait(const ServiceStateQuery& query,
                                          const std::function<bool()>& sendStop,
                                          std::chrono::system_clock::time_point started);

 private:
  Clock& clock_;
};

}  // namespace Pellux
