#include "ui/log/local_time.h"

#include <array>

namespace Pellux {

std::string FormatLocalTime(const char* format, std::chrono::system_clock::time_point time) {
  const std::tm local = ToLocalTime(time);
  // Our formats give at most a few dozen characters.
  std::array<char, 128> text{};
  const std::size_t length = std::strftime(text.data(), text.size(), format, &local);
  return std::string(text.data(), length);
}

}  // namespace Pellux
