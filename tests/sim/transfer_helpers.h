#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "link/packet.h"
#include "link/packet_bytes.h"
#include "link/received_unit.h"

namespace Pellux {

// A command as the engine builds it from an operation code.
inline CommandPacket MakeCommand(std::initializer_list<std::uint8_t> bytes) {
  PacketHeader header{};
  std::copy(bytes.begin(), bytes.end(), header.begin());
  return CommandPacket(LogicalPacket(header));
}

// The packet carried by the first 8 bytes of a tracker image.
inline LogicalPacket Carried(const std::vector<std::uint8_t>& image) {
  EXPECT_GE(image.size(), 8u);
  return LogicalPacket(ClassifyUnit(std::span(image).first(8)).header);
}

inline DataRequestPacket RequestNumbered(std::uint16_t number) {
  DataRequestPacket request;
  request.SetRequestNumber(number);
  return request;
}

// 0, 1, 2, ... wrapping at 251, so that misplaced chunks show.
inline std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(i % 251);
  }
  return bytes;
}

// The channel bytes a burst of `blocks` blocks on channel 0 must carry: 0x00, then 0x20, 0x40,
// 0x60, 0x20, ...; the last one with 0x80.
inline std::vector<std::uint8_t> BurstChannelBytes(std::size_t blocks) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t sequence = 0x00;
  for (std::size_t i = 0; i < blocks; ++i) {
    bytes.push_back(i + 1 == blocks ? static_cast<std::uint8_t>(sequence | 0x80) : sequence);
    sequence = sequence == 0x60 ? 0x20 : static_cast<std::uint8_t>(sequence + 0x20);
  }
  return bytes;
}

}  // namespace Pellux
