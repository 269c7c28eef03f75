#include <ctime>

#include "ui/log/local_time.h"

namespace Pellux {

std::tm ToLocalTime(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  // localtime_s, unlike localtime, keeps its result in our buffer: lines come from many threads.
  if (localtime_s(&local, &seconds) != 0) local = std::tm{};
  return local;
}

}  // namespace Pellux
