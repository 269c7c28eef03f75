#include "sim/ant_frame.h"

#include "device/ant_message.h"

namespace Pellux {

std::vector<std::uint8_t> AntFrame::Encode() const {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(data.size() + 4);
  bytes.push_back(kAntSync);
  bytes.push_back(static_cast<std::uint8_t>(data.size()));
  bytes.push_back(id);
  bytes.insert(bytes.end(), data.begin(), data.end());
  std::uint8_t checksum = 0;
  for (const std::uint8_t byte : bytes) {
    checksum ^= byte;
  }
  bytes.push_back(checksum);
  return bytes;
}

}  // namespace Pellux
