#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "device/ant_message.h"
#include "device/dsi_framer.h"

namespace Pellux {

using Bytes = std::vector<std::uint8_t>;

// A frame as the module sends it: sync, length, id, data, checksum; no trailing zeros.
Bytes Frame(std::uint8_t id, const Bytes& data);
// The same frame with its checksum broken.
Bytes BadFrame(std::uint8_t id, const Bytes& data);
// Joins streams in order.
Bytes Concat(std::initializer_list<Bytes> parts);

AntMessage Message(std::uint8_t id, const Bytes& data);

// Two upper-case hex digits.
std::string Hex(std::uint8_t byte);

// One GetMessage outcome in words: "4E 00 01 02" (id, then the data bytes returned), "error 1",
// "error 2 code 04", "error 3" (the id position after kFramerError), "timed out", or
// "impossible length N" for a length no message can have.
std::string Describe(std::uint16_t result, const AntMessage& out);
// Takes everything out of the framer with GetMessage(out, maxLength) until it has nothing left.
std::vector<std::string> Drain(DSIFramer& framer, std::uint8_t maxLength = 0);

}  // namespace Pellux
