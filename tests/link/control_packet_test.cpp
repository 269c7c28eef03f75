#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "link/link_identifiers.h"
#include "link/packet.h"
#include "tests/link/serialized.h"

namespace Pellux {
namespace {

TEST(ControlPacketTest, LaysOutEachControlPacketAsTheTrackerExpects) {
  struct Case {
    const char* name;
    std::shared_ptr<const Packet> packet;
    PacketHeader expected;
  };
  const Case cases[] = {
      {"ping", std::make_shared<PingPacket>(), {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"reset", std::make_shared<ResetPacket>(), {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"link",
       std::make_shared<LinkPacket>(0x1234, 0x01020304),
       {0x02, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01}},
      {"link, highest numbers",
       std::make_shared<LinkPacket>(0xFEFF, 0x7FFFFFFF),
       {0x02, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x7F}},
      {"link, host ID with every byte different",
       std::make_shared<LinkPacket>(0x0001, 0xA1B2C3D4),
       {0x02, 0x01, 0x00, 0xD4, 0xC3, 0xB2, 0xA1}},
      {"unlink for an hour",
       std::make_shared<UnlinkPacket>(3600),
       {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.packet->IsControl());
    EXPECT_EQ(c.packet->Header(), c.expected);
    EXPECT_EQ(c.packet->Type(), c.expected[0]);
    EXPECT_EQ(Serialized(*c.packet),
              std::vector<std::uint8_t>(c.expected.begin(), c.expected.end()));
    EXPECT_TRUE(c.packet->Payload().empty());
  }
}

TEST(ControlPacketTest, SerializeReplacesWhatTheBufferHeld) {
  std::vector<std::uint8_t> out(40, 0xEE);
  ResetPacket().Serialize(out);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST(ControlPacketTest, TakesAnyReceivedPacketAsAPongWithItsBytesAsTheyStand) {
  const PacketHeader received[] = {
      {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66},
      // Even a logical type byte in a control block is a PONG.
      {0x41, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
  };
  for (const PacketHeader& bytes : received) {
    const ControlPacket pong(bytes);
    EXPECT_TRUE(pong.IsControl());
    EXPECT_EQ(pong.Header(), bytes);
    EXPECT_TRUE(pong.Payload().empty());
  }
}

TEST(ControlPacketTest, ParamReadsBytesOneToSixAndRefusesOtherIndexes) {
  const LinkPacket link(0x1234, 0x01020304);
  const std::uint8_t expected[] = {0x34, 0x12, 0x04, 0x03, 0x02, 0x01};
  for (std::size_t index = 1; index <= 6; ++index) {
    EXPECT_EQ(link.Param(index), expected[index - 1]) << "byte " << index;
  }
  EXPECT_THROW((void)link.Param(0), std::out_of_range);
  EXPECT_THROW((void)link.Param(7), std::out_of_range);
}

TEST(LinkPacketTest, KeepsItsNumbersForTheLinkThatFollows) {
  const LinkPacket link(0xBEEF, 0x12345678);
  EXPECT_EQ(link.SessionDeviceNumber(), 0xBEEF);
  EXPECT_EQ(link.HostId(), 0x12345678u);
}

TEST(LinkPacketTest, IsTaggedWithTheHostIdOfThisProcessByDefault) {
  const std::uint32_t hostId = LinkIdentifiers::ForProcess().HostId();
  const LinkPacket link(0x0102);
  EXPECT_EQ(link.HostId(), hostId);
  EXPECT_EQ(link.Header(), (PacketHeader{0x02, 0x02, 0x01, static_cast<std::uint8_t>(hostId),
                                         static_cast<std::uint8_t>(hostId >> 8),
                                         static_cast<std::uint8_t>(hostId >> 16),
                                         static_cast<std::uint8_t>(hostId >> 24)}));
}

TEST(UnlinkPacketTest, SendsTheSleepPeriodInWholeStepsOfFifteenSeconds) {
  struct Case {
    std::int32_t seconds;
    std::uint8_t byte6;
  };
  const Case cases[] = {
      {0, 0},
      {14, 0},
      {15, 1},
      {44, 2},
      {45, 3},
      {3600, 240},
      {3825, 255},
      // The byte keeps only the low 8 bits of the step count.
      {3840, 0},
      {3855, 1},
      {std::numeric_limits<std::int32_t>::max(), (2147483647 / 15) & 0xFF},
      // A negative period from a server document means no sleep.
      {-1, 0},
      {-15, 0},
      {-3600, 0},
      {std::numeric_limits<std::int32_t>::min(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    const UnlinkPacket unlink(c.seconds);
    EXPECT_EQ(unlink.Header(), (PacketHeader{0x03, 0x00, 0x00, 0x00, 0x00, 0x00, c.byte6}));
    EXPECT_EQ(unlink.SleepPeriodSeconds(), c.seconds);
  }
}

}  // namespace
}  // namespace Pellux
