#include "link/received_unit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "link/packet.h"
#include "tests/link/serialized.h"

namespace Pellux {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Case {
  const char* name;
  Bytes block;
  UnitKind kind;
};

// Blocks as the radio delivers them, one of each kind and the edges between them.
const Case kBlocks[] = {
    {"pong", {0x7D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, UnitKind::Control},
    {"control block with a logical-looking type",
     {0x78, 0x41, 0, 0, 0, 0, 0, 0},
     UnitKind::Control},
    {"control, every header bit set",
     {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     UnitKind::Control},
    {"status success", {0x39, 0x41, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00}, UnitKind::Status},
    {"status, highest sub-code", {0x3C, 0x5F, 0, 0, 0, 0, 0, 0}, UnitKind::Status},
    {"data request", {0x3A, 0x60, 0x00, 0x02, 0x07, 0x00, 0x09, 0x00}, UnitKind::DataRequest},
    {"data request, highest type byte", {0x3A, 0x7F, 0, 0, 0, 0, 0, 0}, UnitKind::DataRequest},
    {"data", {0x3B, 0x80, 0x03, 0x00, 0x07, 0x00, 0x09, 0x07}, UnitKind::Data},
    {"data, highest type byte", {0x3B, 0x9F, 0, 0, 0, 0, 0, 0}, UnitKind::Data},
    {"logical type 0", {0x38, 0x00, 0, 0, 0, 0, 0, 0}, UnitKind::Unknown},
    {"logical type 0, highest", {0x38, 0x1F, 0, 0, 0, 0, 0, 0}, UnitKind::Unknown},
    {"logical type 1", {0x38, 0x20, 0, 0, 0, 0, 0, 0}, UnitKind::Unknown},
    {"logical type 1, highest", {0x3F, 0x3F, 0, 0, 0, 0, 0, 0}, UnitKind::Unknown},
    {"logical type 5", {0x38, 0xA0, 0, 0, 0, 0, 0, 0}, UnitKind::Unknown},
    {"logical type 6", {0x38, 0xC5, 0, 0, 0, 0, 0, 0}, UnitKind::Unknown},
    {"logical type 7", {0x38, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, UnitKind::Unknown},
};

TEST(ReceivedUnitTest, SortsBlocksByTransportByteAndLogicalType) {
  for (const Case& c : kBlocks) {
    SCOPED_TRACE(c.name);
    const ReceivedUnit unit = ClassifyUnit(c.block);
    EXPECT_EQ(unit.kind, c.kind) << UnitKindName(unit.kind);
    EXPECT_EQ(unit.sequence, c.block[0] & 0x07);
    EXPECT_EQ(unit.header, (PacketHeader{c.block[1], c.block[2], c.block[3], c.block[4], c.block[5],
                                         c.block[6], c.block[7]}));
  }
}

TEST(ReceivedUnitTest, RebuildsIntoPacketsThatSendTheSameBytes) {
  for (const Case& c : kBlocks) {
    SCOPED_TRACE(c.name);
    const ReceivedUnit unit = ClassifyUnit(c.block);
    std::unique_ptr<Packet> packet;
    if (unit.kind == UnitKind::Control) {
      packet = std::make_unique<ControlPacket>(unit.header);
    } else {
      packet = std::make_unique<LogicalPacket>(unit.header);
    }
    // Our own packets use 0x38 as the fixed part of the transport byte, as these blocks do.
    EXPECT_EQ(Serialized(TransportPacket(*packet, unit.sequence)), c.block);
  }
}

TEST(ReceivedUnitTest, FixedBitsOfTheTransportByteDoNotChangeTheKind) {
  for (int transport = 0; transport < 256; ++transport) {
    const auto byte = static_cast<std::uint8_t>(transport);
    SCOPED_TRACE(transport);
    const ReceivedUnit unit = ClassifyUnit(Bytes{byte, 0x41, 0, 0, 0, 0, 0, 0});
    const UnitKind expected = (byte & 0x40) != 0 ? UnitKind::Control : UnitKind::Status;
    EXPECT_EQ(unit.kind, expected) << UnitKindName(unit.kind);
    EXPECT_EQ(unit.sequence, byte & 0x07);
  }
}

TEST(ReceivedUnitTest, CallsABlockOfAnyOtherLengthMalformedWithoutReadingPastIt) {
  for (const std::size_t size : {0u, 1u, 7u, 9u, 16u, 64u}) {
    SCOPED_TRACE(size);
    // Exactly `size` bytes on the heap, so that AddressSanitizer sees a read past the end.
    const auto bytes = std::make_unique<std::uint8_t[]>(size);
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = 0x7D;
    }
    const ReceivedUnit unit = ClassifyUnit({bytes.get(), size});
    EXPECT_EQ(unit.kind, UnitKind::Malformed);
    EXPECT_EQ(unit.sequence, 0);
    EXPECT_EQ(unit.header, PacketHeader{});
  }
  EXPECT_EQ(ClassifyUnit({}).kind, UnitKind::Malformed);
}

TEST(ReceivedUnitTest, ReadsOnlyTheBlockItIsGivenOutOfALargerBuffer) {
  const Bytes burst{0x39, 0x41, 0, 0, 0, 0, 0, 0, 0x3A, 0x60, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00};
  const ReceivedUnit second = ClassifyUnit(std::span(burst).subspan(8, 8));
  EXPECT_EQ(second.kind, UnitKind::DataRequest);
  EXPECT_EQ(second.sequence, 2);
  EXPECT_EQ(ClassifyUnit(burst).kind, UnitKind::Malformed);
}

}  // namespace
}  // namespace Pellux
