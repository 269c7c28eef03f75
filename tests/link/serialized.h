#pragma once

#include <cstdint>
#include <vector>

#include "link/packet.h"

namespace Pellux {

// What a packet puts on the air, as one value to compare.
inline std::vector<std::uint8_t> Serialized(const Packet& packet) {
  std::vector<std::uint8_t> out;
  packet.Serialize(out);
  return out;
}

}  // namespace Pellux
