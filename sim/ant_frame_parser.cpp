#include "sim/ant_frame_parser.h"

#include "device/ant_message.h"

namespace Pellux {

namespace {

// Sync, length and id come before the data; the checksum after it.
constexpr std::size_t kHeadSize = 3;

}  // namespace

AntFrameParser::Result AntFrameParser::Feed(std::span<const std::uint8_t> bytes) {
  Result result;
  for (const std::uint8_t byte : bytes) {
    Push(byte, result);
  }
  return result;
}

void AntFrameParser::Push(std::uint8_t byte, Result& result) {
  if (partial_.empty()) {
    if (byte == kAntSync) partial_.push_back(byte);
    return;
  }
  partial_.push_back(byte);
  if (partial_.size() == 2) {
    if (byte > kMaxDataSize) {
      result.rejected.push_back(partial_);
      partial_.clear();
      // The length byte may itself have been the sync of the next frame.
      if (byte == kAntSync) partial_.push_back(byte);
    }
    return;
  }
  const std::size_t length = partial_[1];
  if (partial_.size() < kHeadSize + length + 1) return;

  std::uint8_t sum = 0;
  for (const std::uint8_t frameByte : partial_) {
    sum ^= frameByte;
  }
  if (sum != 0) {
    result.rejected.push_back(partial_);
  } else {
    AntFrame frame;
    frame.id = partial_[2];
    frame.data.assign(partial_.begin() + kHeadSize, partial_.end() - 1);
    result.frames.push_back(std::move(frame));
  }
  partial_.clear();
}

}  // namespace Pellux
