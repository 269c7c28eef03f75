#include "link/packet_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Pellux {
namespace {

std::vector<std::uint8_t> BytesOf(const std::string& text) {
  return {text.begin(), text.end()};
}

TEST(ChecksumTest, XorsEveryByteOfThePayload) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint8_t expected;
  };
  const Case cases[] = {
      {"nothing", {}, 0x00},
      {"text abc", BytesOf("abc"), 0x60},
      {"one byte", {0xFF}, 0xFF},
      {"a byte twice cancels", {0xA5, 0xA5}, 0x00},
      {"chunk 01 02 04", {0x01, 0x02, 0x04}, 0x07},
      {"bits from several bytes", {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01}, 0xFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Checksum(c.bytes), c.expected);
  }
}

TEST(HexBytesTest, RendersEachByteForTheLog) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::string expected;
  };
  const Case cases[] = {
      {{}, ""},
      {{0x7D, 0x00}, "0x7d, 0x00"},
      {{0xAB}, "0xab"},
      {{0x00, 0x0F, 0xF0, 0xFF}, "0x00, 0x0f, 0xf0, 0xff"},
      {{0x38, 0x60, 0x00, 0x02}, "0x38, 0x60, 0x00, 0x02"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexBytes(c.bytes), c.expected);
  }
}

TEST(HexBytesTest, GivesEveryByteValueItsOwnTwoLowerCaseDigits) {
  std::vector<std::uint8_t> all;
  all.reserve(256);
  for (int value = 0; value < 256; ++value) {
    all.push_back(static_cast<std::uint8_t>(value));
  }
  const std::string text = HexBytes(all);
  ASSERT_EQ(text.size(), 256 * 4 + 255 * 2);
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string item = text.substr(i * 6, 4);
    SCOPED_TRACE(item);
    EXPECT_EQ(std::stoi(item, nullptr, 16), all[i]);
    EXPECT_EQ(item.find_first_of("ABCDEF"), std::string::npos);
  }
}

}  // namespace
}  // namespace Pellux
