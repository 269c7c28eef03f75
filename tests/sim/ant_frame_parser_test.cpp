#include "sim/ant_frame_parser.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/ant_frame.h"

namespace Pellux {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(AntFrameTest, EncodesSyncLengthIdDataAndChecksum) {
  EXPECT_EQ((AntFrame{0x4B, {0x00}}.Encode()), (Bytes{0xA4, 0x01, 0x4B, 0x00, 0xEE}));
  EXPECT_EQ((AntFrame{0x6F, {0x20}}.Encode()), (Bytes{0xA4, 0x01, 0x6F, 0x20, 0xEA}));
}

TEST(AntFrameParserTest, SkipsTheTwoZeroBytesAfterEachFrame) {
  AntFrameParser parser;
  const Bytes stream{0xA4, 0x01, 0x4B, 0x00, 0xEE, 0x00, 0x00, 0xA4, 0x01, 0x4C, 0x00, 0xE9, 0, 0};
  const AntFrameParser::Result result = parser.Feed(stream);
  EXPECT_EQ(result.frames, (std::vector<AntFrame>{{0x4B, {0x00}}, {0x4C, {0x00}}}));
  EXPECT_TRUE(result.rejected.empty());
  EXPECT_FALSE(parser.InFrame());
}

TEST(AntFrameParserTest, JoinsAFrameSplitOverSeveralWrites) {
  AntFrameParser parser;
  const Bytes frame = AntFrame{0x51, {0, 0xFF, 0xFF, 1, 1}}.Encode();
  for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
    EXPECT_TRUE(parser.Feed(Bytes{frame[i]}).frames.empty());
    EXPECT_TRUE(parser.InFrame());
  }
  const AntFrameParser::Result result = parser.Feed(Bytes{frame.back()});
  EXPECT_EQ(result.frames, (std::vector<AntFrame>{{0x51, {0, 0xFF, 0xFF, 1, 1}}}));
}

TEST(AntFrameParserTest, RejectsABadChecksumAndGoesOnWithTheNextFrame) {
  AntFrameParser parser;
  Bytes stream{0xA4, 0x01, 0x4B, 0x00, 0xEF};
  const Bytes good = AntFrame{0x4A, {0x00}}.Encode();
  stream.insert(stream.end(), good.begin(), good.end());
  const AntFrameParser::Result result = parser.Feed(stream);
  EXPECT_EQ(result.frames, (std::vector<AntFrame>{{0x4A, {0x00}}}));
  EXPECT_EQ(result.rejected, (std::vector<Bytes>{{0xA4, 0x01, 0x4B, 0x00, 0xEF}}));
}

TEST(AntFrameParserTest, RejectsAnImpossibleLengthAndResyncsOnALengthByteThatIsASync) {
  AntFrameParser parser;
  const AntFrameParser::Result tooLong = parser.Feed(Bytes{0xA4, 21, 0x4E});
  EXPECT_EQ(tooLong.rejected, (std::vector<Bytes>{{0xA4, 21}}));
  EXPECT_FALSE(parser.InFrame());

  // The second 0xA4 cannot be a length, so it starts the frame that follows.
  Bytes stream{0xA4, 0xA4};
  const Bytes rest = AntFrame{0x4C, {0x00}}.Encode();
  stream.insert(stream.end(), rest.begin() + 1, rest.end());
  const AntFrameParser::Result resynced = parser.Feed(stream);
  EXPECT_EQ(resynced.rejected, (std::vector<Bytes>{{0xA4, 0xA4}}));
  EXPECT_EQ(resynced.frames, (std::vector<AntFrame>{{0x4C, {0x00}}}));
}

TEST(AntFrameParserTest, AcceptsTheLongestDataPartAndAnEmptyOne) {
  AntFrameParser parser;
  const AntFrame longest{0x4E, Bytes(AntFrameParser::kMaxDataSize, 0x5A)};
  Bytes stream = longest.Encode();
  const Bytes empty = AntFrame{0x4D, {}}.Encode();
  stream.insert(stream.end(), empty.begin(), empty.end());
  const AntFrameParser::Result result = parser.Feed(stream);
  EXPECT_EQ(result.frames, (std::vector<AntFrame>{longest, AntFrame{0x4D, {}}}));
}

}  // namespace
}  // namespace Pellux
