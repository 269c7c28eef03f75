#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace Pellux {

// The receive queue of a bridge handle: an unbounded first-in first-out queue of
// bytes stored in blocks of 16, so that a byte at a time costs no allocation but once per
// block. Not thread-safe: the handle guards it with its queue mutex.
class ByteBlockQueue {
 public:
  static constexpr std::size_t kBlockSize = 16;

  void Push(std::uint8_t byte);
  // Moves up to `size` bytes from the front into `out`; returns how many.
  std::size_t Pop(std::uint8_t* out, std::size_t size);
  [[nodiscard]] std::size_t Size() const { return size_; }
  [[nodiscard]] bool Empty() const { return size_ == 0; }
  // Blocks held now (a test's view of the storage).
  [[nodiscard]] std::size_t Blocks() const { return blocks_.size(); }

 private:
  std::deque<std::array<std::uint8_t, kBlockSize>> blocks_;
  // Read position in the front block, write position in the back block.
  std::size_t head_ = 0;
  std::size_t tail_ = kBlockSize;
  std::size_t size_ = 0;
};

}  // namespace Pellux
