#include <sys/random.h>

#include <cerrno>

#include "base/random_bytes.h"
#include "base/system_error.h"

namespace Pellux {

std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count, std::string& error) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t filled = 0;
  while (filled < count) {
    const ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = SystemCallFailure("getrandom", std::to_string(count) + " bytes", LastSystemError());
      return std::nullopt;
    }
    filled += static_cast<std::size_t>(got);
  }
  return bytes;
}

}  // namespace Pellux
