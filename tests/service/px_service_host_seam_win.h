#pragma once

#include <chrono>

namespace Pellux {

// The recovery seam of the tests' service host (px_service_host.exe): the test sets this
// event, and the running service's base station falls silent for good while its clock moves
// on by kHangLead, past the watchdog's limit of 630 seconds.
inline constexpr const char* kHangEventName = "Global\\PelluxTestHangBaseStation";
inline constexpr std::chrono::milliseconds kHangLead{700 * 1000};

}  // namespace Pellux
