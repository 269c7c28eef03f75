#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace Pellux {

// The local calendar time of `time` in the process's time zone (TZ, or the system's setting).
// Thread-safe.
std::tm ToLocalTime(std::chrono::system_clock::time_point time);

// `time` as local time in a strftime `format` of our own (never outside text).
std::string FormatLocalTime(const char* format, std::chrono::system_clock::time_point time);

}  // namespace Pellux
