#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "base/random_bytes.h"
#include "ui/system/client_id.h"

namespace Pellux {

std::optional<std::string> MakeClientId(const ProblemReporter& report) {
  std::string error;
  auto random = RandomBytes(16, error);
  if (!random) {
    if (report) report(error);
    return std::nullopt;
  }
  std::vector<std::uint8_t>& bytes = *random;
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
