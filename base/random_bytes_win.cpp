#include <windows.h>
// bcrypt.h needs the types of windows.h first.
#include <bcrypt.h>

#include <limits>

#include "base/random_bytes.h"
#include "base/system_error.h"

namespace Pellux {

std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count, std::string& error) {
  std::vector<std::uint8_t> bytes(count);
  if (count > std::numeric_limits<ULONG>::max()) {
    error = "RandomBytes: " + std::to_string(count) + " bytes is more than one call gives";
    return std::nullopt;
  }
  const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
  if (status < 0) {
    error = SystemCallFailure("BCryptGenRandom", std::to_string(count) + " bytes",
                              static_cast<unsigned long>(status));
    return std::nullopt;
  }
  return bytes;
}

}  // namespace Pellux
