#include "device/byte_block_queue.h"

#include <algorithm>

namespace Pellux {

void ByteBlockQueue::Push(std::uint8_t byte) {
  if (tail_ == kBlockSize) {
    blocks_.emplace_back();
    tail_ = 0;
  }
  blocks_.back()[tail_++] = byte;
  ++size_;
}

std::size_t ByteBlockQueue::Pop(std::uint8_t* out, std::size_t size) {
  std::size_t moved = 0;
  while (moved < size && size_ > 0) {
    const std::size_t inFront = blocks_.size() == 1 ? tail_ - head_ : kBlockSize - head_;
    const std::size_t take = std::min(inFront, size - moved);
    std::copy_n(blocks_.front().begin() + static_cast<std::ptrdiff_t>(head_), take, out + moved);
    moved += take;
    head_ += take;
    size_ -= take;
    if (head_ == kBlockSize || size_ == 0) {
      // The front block is used up (or the queue is empty: start afresh).
      blocks_.pop_front();
      head_ = 0;
      if (blocks_.empty()) tail_ = kBlockSize;
    }
  }
  return moved;
}

}  // namespace Pellux
