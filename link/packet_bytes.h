#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Pellux {

// The checksum a data packet carries for its payload: the XOR of all bytes, 0 for none.
[[nodiscard]] std::uint8_t Checksum(std::span<const std::uint8_t> bytes);

// Bytes as the log shows them: "0x7d, 0x00", empty for no bytes.
[[nodiscard]] std::string HexBytes(std::span<const std::uint8_t> bytes);

}  // namespace Pellux
