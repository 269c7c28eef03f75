#include "sim/frame_stream.h"

#include <algorithm>

#include "device/ant_message.h"
#include "sim/ant_frame.h"

namespace Pellux::FrameStream {
namespace {

AntFrame Message(std::uint32_t index) {
  const auto b0 = static_cast<std::uint8_t>(index);
  const auto b1 = static_cast<std::uint8_t>(index >> 8);
  const auto b2 = static_cast<std::uint8_t>(index >> 16);
  const auto b3 = static_cast<std::uint8_t>(index >> 24);
  const std::uint32_t slot = index % 20;
  if (slot < 14) {
    const auto sequence = static_cast<std::uint8_t>((slot & 3) << 5);
    return {AntId::kBurstData, {sequence, b0, b1, b2, b3, 0x10, 0xA4, 0x55, 0x01}};
  }
  if (slot < 18) return {AntId::kBroadcastData, {0x00, b0, b1, b2, b3, 0x38, 0x00, 0x02, 0x00}};
  return {AntId::kChannelResponse, {0x00, AntId::kEvent, 0x05}};
}

}  // namespace

std::vector<std::uint8_t> Frame(std::uint32_t index) {
  return Message(index).Encode();
}

bool Matches(std::uint32_t index, std::uint8_t id, std::span<const std::uint8_t> data) {
  const AntFrame expected = Message(index);
  return id == expected.id &&
         std::equal(data.begin(), data.end(), expected.data.begin(), expected.data.end());
}

}  // namespace Pellux::FrameStream
