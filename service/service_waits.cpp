#include "service/service_waits.h"

#include <algorithm>

namespace Pellux {

using std::chrono::milliseconds;

ServiceState ServiceWaits::WaitWhileStartPending(ServiceState first,
                                                 const ServiceStateQuery& query) {
  ServiceState state = first;
  std::uint32_t checkpoint = state.checkpoint;
  auto lastProgress = clock_.Now();
  while (state.state == ServiceState::kStartPending) {
    clock_.Sleep(
        std::clamp(milliseconds(state.waitHintMs / 10), milliseconds(1000), milliseconds(10000)));
    const auto next = query();
    if (!next) break;
    state = *next;
    if (state.checkpoint > checkpoint) {
      checkpoint = state.checkpoint;
      lastProgress = clock_.Now();
    } else if (clock_.Now() - lastProgress > milliseconds(state.waitHintMs)) {
      break;
    }
  }
  return state;
}

std::optional<ServiceState> ServiceWaits::StopAndWait(
    const ServiceStateQuery& query, const std::function<bool()>& sendStop,
    std::chrono::system_clock::time_point started) {
  std::optional<ServiceState> state = query();
  const auto timedOut = [&] { return clock_.Now() - started > kStopLimit; };
  // Sleeps for the wait hint and queries again; false when the wait is over.
  const auto waitFor = [&](std::uint32_t wanted) {
    clock_.Sleep(std::max(milliseconds(state->waitHintMs), kShortestStopSleep));
    state = query();
    return state && state->state == wanted && !timedOut();
  };
  if (!state || state->state == ServiceState::kStopped) return state;
  if (state->state == ServiceState::kStopPending) {
    while (waitFor(ServiceState::kStopPending)) {
    }
    if (!state || state->state == ServiceState::kStopped || timedOut()) return state;
  }
  if (!sendStop()) return state;
  do {
    clock_.Sleep(std::max(milliseconds(state->waitHintMs), kShortestStopSleep));
    state = query();
  } while (state && state->state != ServiceState::kStopped && !timedOut());
  return state;
}

}  // namespace Pellux
