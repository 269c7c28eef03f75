#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pellux {

// `count` bytes from the system's cryptographic random source (getrandom on Linux,
// BCryptGenRandom on Windows), for ids and secrets. Nullopt, with the failed call in `error`
// (SystemCallFailure), when the system could not give them. Any thread.
std::optional<std::vector<std::uint8_t>> RandomBytes(std::size_t count, std::string& error);

// RandomBytes as lower-case hexadecimal text, two digits a byte.
std::optional<std::string> RandomHex(std::size_t count, std::string& error);

}  // namespace Pellux
