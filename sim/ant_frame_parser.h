#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/ant_frame.h"

namespace Pellux {

// The module's side of the serial framing: turns the host's byte stream into whole messages.
// Bytes outside a frame (the two zero bytes the host sends after each frame, or any other
// noise) are skipped. A frame whose length no module message can have, or whose checksum does
// not add up, is dropped and kept as a rejected frame. Not thread-safe.
class AntFrameParser {
 public:
  // Longest data part the module accepts in one message.
  static constexpr std::size_t kMaxDataSize = 20;

  struct Result {
    std::vector<AntFrame> frames;
    // The bytes of each dropped frame, as far as they were read.
    std::vector<std::vector<std::uint8_t>> rejected;
  };

  // Reads `bytes`, which may end in the middle of a frame; the rest of it comes with the next
  // call.
  Result Feed(std::span<const std::uint8_t> bytes);

  // True while a frame has been started and not finished.
  [[nodiscard]] bool InFrame() const { return !partial_.empty(); }

 private:
  void Push(std::uint8_t byte, Result& result);

  std::vector<std::uint8_t> partial_;
};

}  // namespace Pellux
