#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/system_error.h"
#include "ui/system/client_id.h"

namespace Pellux {

std::optional<std::string> MakeClientId(const ProblemReporter& report) {
  std::array<std::uint8_t, 16> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (report) report(SystemCallFailure("getrandom", "16 bytes", LastSystemError()));
      return std::nullopt;
    }
    filled += static_cast<std::size_t>(got);
  }
  // A random UUID (RFC 9562 version 4): the version in the high nibble of byte 6, the variant
  // 0b10 in the high bits of byte 8.
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  std::array<char, 37> text{};
  std::snprintf(text.data(), text.size(),
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return std::string(text.data());
}

}  // namespace Pellux
