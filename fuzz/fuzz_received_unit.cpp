// Feeds arbitrary radio data through the classification of received blocks and through the
// packet classes each kind is read with, checking that every block gets one clear outcome and
// that what we would send back is laid out as the packet says.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "link/packet.h"
#include "link/packet_bytes.h"
#include "link/received_unit.h"

namespace Pellux {
namespace {

// Stops the run on a broken invariant, so that libFuzzer keeps the input that broke it.
void Require(bool holds, const char* invariant, int line) {
  if (!holds) {
    std::fprintf(stderr, "fuzz_received_unit.cpp:%d: invariant broken: %s\n", line, invariant);
    std::abort();
  }
}
#define PELLUX_REQUIRE(invariant) Require((invariant), #invariant, __LINE__)

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kLongestAnswer = 300;

Bytes Serialized(const Packet& packet) {
  Bytes out;
  packet.Serialize(out);
  return out;
}

Bytes HeaderBytes(const PacketHeader& header) {
  return {header.begin(), header.end()};
}

std::uint16_t Le16(const PacketHeader& header, std::size_t index) {
  return static_cast<std::uint16_t>(header[index] | (header[index + 1] << 8));
}

// Checks the block we would send for `packet` with `sequence`.
void CheckWrapped(const Packet& packet, int sequence) {
  const TransportPacket transport(packet, sequence);
  const Bytes sent = Serialized(transport);
  const Bytes header = HeaderBytes(packet.Header());
  PELLUX_REQUIRE(sent.size() == 8 + packet.Payload().size());
  const auto expectedTransport =
      static_cast<std::uint8_t>(0x38 | (packet.IsControl() ? 0x40 : 0) | (sequence & 7));
  PELLUX_REQUIRE(sent[0] == expectedTransport);
  PELLUX_REQUIRE(std::equal(header.begin(), header.end(), sent.begin() + 1));
  PELLUX_REQUIRE(std::equal(packet.Payload().begin(), packet.Payload().end(), sent.begin() + 8));
  PELLUX_REQUIRE(transport.IsControl() == packet.IsControl());

  // Unwrapping gives the carried packet back, payload included.
  const LogicalPacket unwrapped(transport);
  PELLUX_REQUIRE(unwrapped.Header() == packet.Header());
  PELLUX_REQUIRE(unwrapped.Payload() == packet.Payload());
}

void CheckStatus(const LogicalPacket& logical) {
  const StatusPacket status(logical);
  const int outcomes = (status.IsSuccess() ? 1 : 0) + (status.HasDataAvailable() ? 1 : 0) +
                       (status.IsFailure() ? 1 : 0);
  PELLUX_REQUIRE(outcomes == 1);
  PELLUX_REQUIRE(status.ResultBytes() == HeaderBytes(logical.Header()));
  const PacketHeader header = logical.Header();
  PELLUX_REQUIRE(status.StatusData() == (static_cast<std::uint32_t>(Le16(header, 1)) |
                                         (static_cast<std::uint32_t>(Le16(header, 3)) << 16)));
}

// The tracker asks for a command's payload: answer with as much of `available` as it asks for.
void CheckDataRequest(const LogicalPacket& logical, std::span<const std::uint8_t> available,
                      std::uint8_t sequence) {
  const DataRequestPacket request(logical);
  const PacketHeader header = logical.Header();
  PELLUX_REQUIRE(request.RequestedSize() == Le16(header, 1));
  PELLUX_REQUIRE(request.RequestNumber() == Le16(header, 3));
  PELLUX_REQUIRE(request.Byte5() == header[5]);

  // Past 300 bytes (both size bytes in use) a longer chunk takes no new path, only time.
  const std::size_t size =
      std::min<std::size_t>({request.RequestedSize(), available.size(), kLongestAnswer});
  const Bytes chunk(available.begin(), available.begin() + static_cast<std::ptrdiff_t>(size));
  const DataPacket answer(chunk, request);
  PELLUX_REQUIRE(!answer.IsControl());
  PELLUX_REQUIRE(answer.LogicalType() == LogicalPacket::kDataType);
  PELLUX_REQUIRE(answer.DeclaredSize() == chunk.size());
  PELLUX_REQUIRE(answer.IsEndOfTransfer() == chunk.empty());
  PELLUX_REQUIRE(answer.RequestNumber() == request.RequestNumber());
  PELLUX_REQUIRE(answer.Byte5() == request.Byte5());
  PELLUX_REQUIRE(answer.PayloadChecksum() == Checksum(chunk));
  PELLUX_REQUIRE(answer.Payload() == chunk);
  PELLUX_REQUIRE(Serialized(answer).size() == 7);
  CheckWrapped(answer, sequence + 1);
}

void CheckData(const LogicalPacket& logical) {
  const DataPacket data(logical);
  const PacketHeader header = logical.Header();
  PELLUX_REQUIRE(data.DeclaredSize() == Le16(header, 1));
  PELLUX_REQUIRE(data.IsEndOfTransfer() == (data.DeclaredSize() == 0));
  PELLUX_REQUIRE(data.RequestNumber() == Le16(header, 3));
  PELLUX_REQUIRE(data.Byte5() == header[5]);
  PELLUX_REQUIRE(data.PayloadChecksum() == header[6]);
  PELLUX_REQUIRE(data.Payload().empty());
}

// One block as the receiver would meet it; `after` is whatever the input holds past it.
void CheckBlock(std::span<const std::uint8_t> block, std::span<const std::uint8_t> after) {
  const ReceivedUnit unit = ClassifyUnit(block);
  PELLUX_REQUIRE(!UnitKindName(unit.kind).empty());
  if (block.size() != 8) {
    PELLUX_REQUIRE(unit.kind == UnitKind::Malformed);
    PELLUX_REQUIRE(unit.sequence == 0);
    PELLUX_REQUIRE(unit.header == PacketHeader{});
    return;
  }
  PELLUX_REQUIRE(unit.kind != UnitKind::Malformed);
  PELLUX_REQUIRE(unit.sequence == (block[0] & 7));
  PELLUX_REQUIRE(std::equal(unit.header.begin(), unit.header.end(), block.begin() + 1));
  PELLUX_REQUIRE((unit.kind == UnitKind::Control) == ((block[0] & 0x40) != 0));
  PELLUX_REQUIRE(HexBytes(block).size() == 8 * 4 + 7 * 2);

  TransportHeader raw{};
  std::copy(block.begin(), block.end(), raw.begin());
  const TransportPacket received(raw);
  PELLUX_REQUIRE(received.IsControl() == (unit.kind == UnitKind::Control));
  PELLUX_REQUIRE(received.Sequence() == unit.sequence);
  PELLUX_REQUIRE(received.Carried() == unit.header);
  PELLUX_REQUIRE(received.Payload().empty());
  PELLUX_REQUIRE(Serialized(received) == Bytes(block.begin(), block.end()));

  if (unit.kind == UnitKind::Control) {
    const ControlPacket pong(unit.header);
    PELLUX_REQUIRE(pong.IsControl());
    PELLUX_REQUIRE(Serialized(pong) == HeaderBytes(unit.header));
    CheckWrapped(pong, unit.sequence);
    return;
  }

  const LogicalPacket logical(received);
  PELLUX_REQUIRE(!logical.IsControl());
  PELLUX_REQUIRE(logical.Header() == unit.header);
  PELLUX_REQUIRE(logical.Payload().empty());
  PELLUX_REQUIRE(Serialized(logical) == HeaderBytes(unit.header));
  CheckWrapped(logical, unit.sequence);
  const CommandPacket command(logical);
  PELLUX_REQUIRE(command.Header() == unit.header && command.Payload().empty());

  switch (unit.kind) {
    case UnitKind::Status:
      PELLUX_REQUIRE(logical.LogicalType() == LogicalPacket::kStatusType);
      CheckStatus(logical);
      break;
    case UnitKind::DataRequest:
      PELLUX_REQUIRE(logical.LogicalType() == LogicalPacket::kDataRequestType);
      CheckDataRequest(logical, after, unit.sequence);
      break;
    case UnitKind::Data:
      PELLUX_REQUIRE(logical.LogicalType() == LogicalPacket::kDataType);
      CheckData(logical);
      break;
    case UnitKind::Unknown:
      PELLUX_REQUIRE(logical.LogicalType() != LogicalPacket::kStatusType &&
                     logical.LogicalType() != LogicalPacket::kDataRequestType &&
                     logical.LogicalType() != LogicalPacket::kDataType);
      break;
    case UnitKind::Control:
    case UnitKind::Malformed:
      PELLUX_REQUIRE(false);
      break;
  }
}

}  // namespace
}  // namespace Pellux

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  // The whole input as one block, then as the radio would cut it: 8-byte blocks and a short tail.
  Pellux::CheckBlock(input, {});
  for (std::size_t offset = 0; offset < input.size(); offset += 8) {
    const std::size_t length = std::min<std::size_t>(8, input.size() - offset);
    Pellux::CheckBlock(input.subspan(offset, length), input.subspan(offset + length));
  }
  return 0;
}
