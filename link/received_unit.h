#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "link/packet.h"

namespace Pellux {

// What an 8-byte block received from the radio holds.
enum class UnitKind {
  Control,      // a control packet, taken as the tracker's PONG
  Status,       // a logical packet of type 2
  DataRequest,  // a logical packet of type 3
  Data,         // a logical packet of type 4
  Unknown,      // a logical packet of a type we do not know: logged and ignored
  Malformed,    // not an 8-byte block at all
};

// For the log and for test messages.
[[nodiscard]] std::string_view UnitKindName(UnitKind kind);

struct ReceivedUnit {
  UnitKind kind = UnitKind::Malformed;
  // Bits 2-0 of the transport byte; 0 for a malformed block.
  std::uint8_t sequence = 0;
  // Bytes 1-7: the header of the carried packet; all zero for a malformed block.
  PacketHeader header{};
};

// Sorts a block of radio data by its transport byte (byte 0) and, for a logical packet, by the
// logical type in bits 7-5 of byte 1. Only bit 6 and the sequence bits of the transport byte
// are read; its other bits do not change the outcome. Anything but exactly 8 bytes is Malformed.
[[nodiscard]] ReceivedUnit ClassifyUnit(std::span<const std::uint8_t> unit);

}  // namespace Pellux
