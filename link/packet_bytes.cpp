#include "link/packet_bytes.h"

namespace Pellux {

std::uint8_t Checksum(std::span<const std::uint8_t> bytes) {
  std::uint8_t sum = 0;
  for (const std::uint8_t byte : bytes) {
    sum ^= byte;
  }
  return sum;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 6);
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) {
      text += ", ";
    }
    text += "0x";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace Pellux
