#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "link/packet.h"
#include "tests/link/serialized.h"

namespace Pellux {
namespace {

using Bytes = std::vector<std::uint8_t>;

DataPacket ThreeByteAnswer() {
  const DataRequestPacket request{
      LogicalPacket(PacketHeader{0x60, 0x00, 0x02, 0x07, 0x00, 0x09, 0x00})};
  return DataPacket(Bytes{0x01, 0x02, 0x04}, request);
}

TEST(TransportPacketTest, WrapsEachPacketAsItGoesOnTheAir) {
  struct Case {
    const char* name;
    std::shared_ptr<const Packet> inner;
    int sequence;
    Bytes expected;
  };
  const auto request = std::make_shared<DataRequestPacket>();
  const Case cases[] = {
      {"ping", std::make_shared<PingPacket>(), 5, {0x7D, 0, 0, 0, 0, 0, 0, 0}},
      {"reset", std::make_shared<ResetPacket>(), 0, {0x78, 0x01, 0, 0, 0, 0, 0, 0}},
      {"link",
       std::make_shared<LinkPacket>(0x1234, 0x01020304),
       2,
       {0x7A, 0x02, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01}},
      {"unlink", std::make_shared<UnlinkPacket>(44), 7, {0x7F, 0x03, 0, 0, 0, 0, 0, 0x02}},
      {"data request, sequence 0", request, 0, {0x38, 0x60, 0x00, 0x02, 0, 0, 0, 0}},
      {"data request, sequence 1", request, 1, {0x39, 0x60, 0x00, 0x02, 0, 0, 0, 0}},
      {"data request, sequence 6", request, 6, {0x3E, 0x60, 0x00, 0x02, 0, 0, 0, 0}},
      {"data request, sequence 7", request, 7, {0x3F, 0x60, 0x00, 0x02, 0, 0, 0, 0}},
      {"data with its payload after the header",
       std::make_shared<DataPacket>(ThreeByteAnswer()),
       3,
       {0x3B, 0x80, 0x03, 0x00, 0x07, 0x00, 0x09, 0x07, 0x01, 0x02, 0x04}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TransportPacket transport(*c.inner, c.sequence);
    EXPECT_EQ(Serialized(transport), c.expected);
    EXPECT_EQ(transport.IsControl(), c.inner->IsControl());
    EXPECT_EQ(transport.Sequence(), c.sequence);
    EXPECT_EQ(transport.Carried(), c.inner->Header());
    EXPECT_EQ(transport.Payload(), c.inner->Payload());
  }
}

TEST(TransportPacketTest, CountsTheSequenceModuloEightWhateverTheCounter) {
  struct Case {
    int counter;
    std::uint8_t sequence;
  };
  const Case cases[] = {
      {0, 0},
      {7, 7},
      {8, 0},
      {13, 5},
      {std::numeric_limits<int>::max(), 7},
      // The engine's counter starts at -1.
      {-1, 7},
      {-2, 6},
      {-8, 0},
      {-9, 7},
      {std::numeric_limits<int>::min(), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counter);
    const TransportPacket control(PingPacket(), c.counter);
    EXPECT_EQ(control.Sequence(), c.sequence);
    EXPECT_EQ(control.TransportByte(), 0x78 | c.sequence);
    const TransportPacket logical(DataRequestPacket(), c.counter);
    EXPECT_EQ(logical.Sequence(), c.sequence);
    EXPECT_EQ(logical.TransportByte(), 0x38 | c.sequence);
  }
}

TEST(TransportPacketTest, TakesAReceivedBlockAsItStands) {
  const TransportHeader blocks[] = {
      {0x7D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x39, 0x41, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06},
      {0x3A, 0x60, 0x00, 0x02, 0x07, 0x00, 0x09, 0x00},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
  };
  for (const TransportHeader& block : blocks) {
    const TransportPacket received(block);
    EXPECT_EQ(received.FullHeader(), block);
    EXPECT_EQ(Serialized(received), Bytes(block.begin(), block.end()));
    EXPECT_TRUE(received.Payload().empty());
    EXPECT_EQ(received.Sequence(), block[0] & 0x07);
    EXPECT_EQ(received.Carried(),
              (PacketHeader{block[1], block[2], block[3], block[4], block[5], block[6], block[7]}));
    EXPECT_EQ(received.Header(),
              (PacketHeader{block[0], block[1], block[2], block[3], block[4], block[5], block[6]}));
  }
}

TEST(TransportPacketTest, IsControlExactlyWhenBitSixOfTheTransportByteIsSet) {
  for (int byte = 0; byte < 256; ++byte) {
    const TransportPacket received(TransportHeader{static_cast<std::uint8_t>(byte)});
    EXPECT_EQ(received.IsControl(), (byte & 0x40) != 0) << byte;
  }
}

TEST(TransportPacketTest, SerializeReplacesWhatTheBufferHeld) {
  std::vector<std::uint8_t> out(40, 0xEE);
  TransportPacket(ThreeByteAnswer(), 1).Serialize(out);
  EXPECT_EQ(out, (Bytes{0x39, 0x80, 0x03, 0x00, 0x07, 0x00, 0x09, 0x07, 0x01, 0x02, 0x04}));
}

}  // namespace
}  // namespace Pellux
