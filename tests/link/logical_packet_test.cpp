#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "link/packet.h"
#include "tests/link/serialized.h"

namespace Pellux {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LogicalPacketTest, SplitsTheTypeByteIntoLogicalTypeAndSubCode) {
  struct Case {
    std::uint8_t type;
    std::uint8_t logicalType;
    std::uint8_t subCode;
  };
  const Case cases[] = {
      {0x00, 0, 0},
      {0x41, 2, 1},
      {0x5F, 2, 15},
      {0x60, 3, 0},
      {0x80, 4, 0},
      {0xE0, 7, 0},
      // Bit 4 is reserved and belongs to neither.
      {0x50, 2, 0},
      {0xFF, 7, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    const LogicalPacket packet(PacketHeader{c.type, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(packet.IsControl());
    EXPECT_EQ(packet.LogicalType(), c.logicalType);
    EXPECT_EQ(packet.SubCode(), c.subCode);
  }
}

TEST(LogicalPacketTest, HoldsTheHeaderAndPayloadItIsGivenButSendsOnlyTheHeader) {
  const PacketHeader header{0x7A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  const LogicalPacket packet(header, Bytes{0xDE, 0xAD});
  EXPECT_EQ(packet.Header(), header);
  EXPECT_EQ(packet.Payload(), (Bytes{0xDE, 0xAD}));
  EXPECT_EQ(Serialized(packet), Bytes(header.begin(), header.end()));

  const LogicalPacket empty;
  EXPECT_EQ(empty.Header(), PacketHeader{});
  EXPECT_TRUE(empty.Payload().empty());
}

TEST(LogicalPacketTest, ConvertsAnyPacketThroughItsSerializedHeaderAndPayload) {
  DataRequestPacket request;
  request.SetRequestNumber(0x0207);
  const DataPacket data(Bytes{0x01, 0x02, 0x04}, request);
  const PacketHeader dataHeader{0x80, 0x03, 0x00, 0x07, 0x02, 0x00, 0x07};
  struct Case {
    const char* name;
    std::shared_ptr<const Packet> from;
    PacketHeader header;
    Bytes payload;
  };
  const Case cases[] = {
      {"data packet", std::make_shared<DataPacket>(data), dataHeader, {0x01, 0x02, 0x04}},
      {"control packet", std::make_shared<PingPacket>(), {}, {}},
      {"data packet in transport",
       std::make_shared<TransportPacket>(data, 3),
       dataHeader,
       {0x01, 0x02, 0x04}},
      {"received block",
       std::make_shared<TransportPacket>(
           TransportHeader{0x39, 0x41, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60}),
       {0x41, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LogicalPacket converted(*c.from);
    EXPECT_FALSE(converted.IsControl());
    EXPECT_EQ(converted.Header(), c.header);
    EXPECT_EQ(converted.Payload(), c.payload);
  }
}

TEST(StatusPacketTest, TellsSuccessDataAvailableAndFailureBySubCode) {
  for (int subCode = 0; subCode < 16; ++subCode) {
    for (const int reserved : {0x00, 0x10}) {
      const auto type = static_cast<std::uint8_t>(0x40 | reserved | subCode);
      SCOPED_TRACE(static_cast<int>(type));
      const StatusPacket status(LogicalPacket(PacketHeader{type, 0, 0, 0, 0, 0, 0}));
      EXPECT_EQ(status.IsSuccess(), subCode == 1);
      EXPECT_EQ(status.HasDataAvailable(), subCode == 2);
      EXPECT_EQ(status.IsFailure(), subCode != 1 && subCode != 2);
    }
  }
}

TEST(StatusPacketTest, HandsItsSevenHeaderBytesToTheCommandItEnds) {
  const PacketHeader received{0x42, 0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB};
  const StatusPacket status{LogicalPacket(received)};
  EXPECT_EQ(status.ResultBytes(), Bytes(received.begin(), received.end()));
  EXPECT_EQ(status.StatusData(), 0x12345678u);
  EXPECT_EQ(status.LogicalType(), LogicalPacket::kStatusType);
}

TEST(DataRequestPacketTest, FirstRequestAsksForTheDefaultSizeWithNumberZero) {
  const DataRequestPacket request;
  EXPECT_FALSE(request.IsControl());
  EXPECT_EQ(request.Header(), (PacketHeader{0x60, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_EQ(request.RequestedSize(), 512);
  EXPECT_EQ(request.RequestNumber(), 0);
  EXPECT_TRUE(request.Payload().empty());
}

TEST(DataRequestPacketTest, CarriesTheRequestNumberSetAtSendTimeLittleEndian) {
  struct Case {
    std::uint16_t number;
    PacketHeader expected;
  };
  const Case cases[] = {
      {1, {0x60, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00}},
      {0x1234, {0x60, 0x00, 0x02, 0x34, 0x12, 0x00, 0x00}},
      {0xFFFF, {0x60, 0x00, 0x02, 0xFF, 0xFF, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    DataRequestPacket request;
    request.SetRequestNumber(c.number);
    EXPECT_EQ(request.Header(), c.expected) << c.number;
    EXPECT_EQ(request.RequestNumber(), c.number);
  }
}

TEST(DataRequestPacketTest, ReadsARequestReceivedFromTheTracker) {
  struct Case {
    PacketHeader received;
    std::uint16_t size;
    std::uint16_t number;
    std::uint8_t byte5;
  };
  const Case cases[] = {
      {{0x60, 0x00, 0x02, 0x07, 0x00, 0x09, 0x00}, 512, 7, 0x09},
      {{0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0, 0x00},
      {{0x6F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFF, 0xFF},
      {{0x60, 0x34, 0x12, 0x78, 0x56, 0x9A, 0xBC}, 0x1234, 0x5678, 0x9A},
  };
  for (const Case& c : cases) {
    const DataRequestPacket request{LogicalPacket(c.received)};
    EXPECT_EQ(request.RequestedSize(), c.size);
    EXPECT_EQ(request.RequestNumber(), c.number);
    EXPECT_EQ(request.Byte5(), c.byte5);
    EXPECT_EQ(request.Header(), c.received);
  }
}

TEST(DataPacketTest, AnswersARequestWithItsNumberAndAChecksummedChunk) {
  struct Case {
    const char* name;
    PacketHeader request;
    Bytes chunk;
    PacketHeader expected;
  };
  const Case cases[] = {
      {"three bytes",
       {0x60, 0x00, 0x02, 0x07, 0x00, 0x09, 0x00},
       {0x01, 0x02, 0x04},
       {0x80, 0x03, 0x00, 0x07, 0x00, 0x09, 0x07}},
      {"end of transfer",
       {0x60, 0x00, 0x02, 0x34, 0x12, 0x00, 0x00},
       {},
       {0x80, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00}},
      {"full default chunk",
       {0x60, 0x00, 0x02, 0x01, 0x00, 0xFF, 0xEE},
       Bytes(512, 0x5A),
       {0x80, 0x00, 0x02, 0x01, 0x00, 0xFF, 0x00}},
      {"odd-length chunk",
       {0x60, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00},
       Bytes(257, 0x5A),
       {0x80, 0x01, 0x01, 0x02, 0x00, 0x00, 0x5A}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DataRequestPacket request{LogicalPacket(c.request)};
    const DataPacket data(c.chunk, request);
    EXPECT_FALSE(data.IsControl());
    EXPECT_EQ(data.Header(), c.expected);
    EXPECT_EQ(data.Payload(), c.chunk);
    EXPECT_EQ(Serialized(data), Bytes(c.expected.begin(), c.expected.end()));
  }
}

TEST(DataPacketTest, RefusesAChunkLongerThanItsSizeFieldCanSay) {
  const DataRequestPacket request;
  const DataPacket largest(Bytes(0xFFFF, 0x01), request);
  EXPECT_EQ(largest.DeclaredSize(), 0xFFFF);
  EXPECT_EQ(largest.PayloadChecksum(), 0x01);
  EXPECT_THROW(DataPacket(Bytes(0x10000, 0x01), request), std::length_error);
}

TEST(DataPacketTest, ReadsTheDeclaredSizeAndChecksumOfAReceivedPacket) {
  struct Case {
    PacketHeader received;
    std::uint16_t size;
    std::uint8_t checksum;
    bool end;
  };
  const Case cases[] = {
      {{0x80, 0x03, 0x00, 0x07, 0x00, 0x09, 0x07}, 3, 0x07, false},
      {{0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 0, 0x00, true},
      {{0x80, 0x00, 0x02, 0x00, 0x00, 0x00, 0xC3}, 512, 0xC3, false},
      {{0x9F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFF, false},
  };
  for (const Case& c : cases) {
    const DataPacket data{LogicalPacket(c.received)};
    EXPECT_EQ(data.DeclaredSize(), c.size);
    EXPECT_EQ(data.PayloadChecksum(), c.checksum);
    EXPECT_EQ(data.IsEndOfTransfer(), c.end);
    EXPECT_EQ(data.RequestNumber(), c.received[3] | (c.received[4] << 8));
    EXPECT_EQ(data.Byte5(), c.received[5]);
  }
}

TEST(CommandPacketTest, SendsTheFirstSevenBytesOfTheOperationCodeWithoutPayload) {
  const PacketHeader operationCode{0x7D, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
  const auto command = std::make_shared<CommandPacket>(LogicalPacket(operationCode));
  EXPECT_FALSE(command->IsControl());
  EXPECT_EQ(command->Header(), operationCode);
  EXPECT_EQ(Serialized(*command), Bytes(operationCode.begin(), operationCode.end()));
  EXPECT_TRUE(command->Payload().empty());

  const CommandPacket withPayload(LogicalPacket(operationCode, Bytes{0x01, 0x02}));
  EXPECT_EQ(withPayload.Header(), operationCode);
  EXPECT_TRUE(withPayload.Payload().empty());
}

}  // namespace
}  // namespace Pellux
