#include "base/random_bytes.h"

namespace Pellux {

std::optional<std::string> RandomHex(std::size_t count, std::string& error) {
  const auto bytes = RandomBytes(count, error);
  if (!bytes) return std::nullopt;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes->size() * 2);
  for (const std::uint8_t byte : *bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace Pellux
