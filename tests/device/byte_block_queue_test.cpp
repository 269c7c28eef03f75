#include "device/byte_block_queue.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace Pellux {
namespace {

TEST(ByteBlockQueueTest, BytesComeOutInTheOrderTheyWentIn) {
  ByteBlockQueue queue;
  for (int i = 0; i < 100; ++i) queue.Push(static_cast<std::uint8_t>(i));
  EXPECT_EQ(queue.Size(), 100U);
  // 100 bytes take seven blocks of 16.
  EXPECT_EQ(queue.Blocks(), 7U);
  std::vector<std::uint8_t> out(100);
  EXPECT_EQ(queue.Pop(out.data(), 37), 37U);
  EXPECT_EQ(queue.Pop(out.data() + 37, 100), 63U);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(out[i], i);
  EXPECT_TRUE(queue.Empty());
  EXPECT_EQ(queue.Blocks(), 0U);
}

TEST(ByteBlockQueueTest, PoppingFromAnEmptyQueueMovesNothing) {
  ByteBlockQueue queue;
  std::array<std::uint8_t, 4> out{};
  EXPECT_EQ(queue.Pop(out.data(), out.size()), 0U);
}

TEST(ByteBlockQueueTest, InterleavedPushesAndPopsAcrossBlockEdges) {
  ByteBlockQueue queue;
  std::uint8_t next = 0;
  std::uint8_t expected = 0;
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < round % 23; ++i) queue.Push(next++);
    std::array<std::uint8_t, 7> out{};
    const std::size_t popped = queue.Pop(out.data(), round % 8);
    for (std::size_t i = 0; i < popped; ++i) EXPECT_EQ(out[i], expected++);
  }
  std::vector<std::uint8_t> rest(queue.Size());
  EXPECT_EQ(queue.Pop(rest.data(), rest.size()), rest.size());
  for (const std::uint8_t byte : rest) EXPECT_EQ(byte, expected++);
  EXPECT_EQ(expected, next);
  // Holding at most what is queued, in whole blocks, plus the one being filled.
  EXPECT_LE(queue.Blocks(), 1U);
}

}  // namespace
}  // namespace Pellux
