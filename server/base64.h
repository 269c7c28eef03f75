#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Pellux {

// Standard base64 (RFC 4648 alphabet) with "=" padding and no line breaks.
std::string Base64Encode(std::span<const std::uint8_t> bytes);

// Lenient decoding: reads characters until the end, the first "=", or the first character
// outside the alphabet (a blank or line break included) and ignores the rest without an error.
// A final group of two or three characters gives one or two bytes; a lone character gives none.
std::vector<std::uint8_t> Base64Decode(std::string_view text);

}  // namespace Pellux
