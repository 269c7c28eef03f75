#include "link/packet.h"

#include <stdexcept>

#include "link/link_identifiers.h"
#include "link/packet_bytes.h"

namespace Pellux {

namespace {

constexpr std::uint8_t kPingType = 0x00;
constexpr std::uint8_t kResetType = 0x01;
constexpr std::uint8_t kLinkType = 0x02;
constexpr std::uint8_t kUnlinkType = 0x03;

constexpr std::uint8_t LogicalTypeByte(std::uint8_t logicalType) {
  return static_cast<std::uint8_t>(logicalType << 5);
}

constexpr std::uint8_t kTransportBase = 0x38;
constexpr std::uint8_t kTransportControlBit = 0x40;
constexpr std::uint8_t kSequenceMask = 0x07;

constexpr std::int32_t kUnlinkStepSeconds = 15;

}  // namespace

// --- Packet ---

void Packet::Serialize(std::vector<std::uint8_t>& out) const {
  const PacketHeader header = Header();
  out.assign(header.begin(), header.end());
}

PacketHeader Packet::Header() const {
  PacketHeader header{};
  header[0] = type_;
  for (std::size_t i = 0; i < params_.size(); ++i) {
    header[i + 1] = params_[i];
  }
  return header;
}

std::uint8_t Packet::Param(std::size_t index) const {
  if (index < 1 || index > params_.size()) {
    throw std::out_of_range("packet parameter index out of range");
  }
  return params_[index - 1];
}

void Packet::SetParam(std::size_t index, std::uint8_t value) {
  if (index < 1 || index > params_.size()) {
    throw std::out_of_range("packet parameter index out of range");
  }
  params_[index - 1] = value;
}

void Packet::SetParam16(std::size_t index, std::uint16_t value) {
  SetParam(index, static_cast<std::uint8_t>(value & 0xFF));
  SetParam(index + 1, static_cast<std::uint8_t>(value >> 8));
}

std::uint16_t Packet::Param16(std::size_t index) const {
  return static_cast<std::uint16_t>(Param(index) | (Param(index + 1) << 8));
}

void Packet::SetHeader(const PacketHeader& header) {
  type_ = header[0];
  for (std::size_t i = 0; i < params_.size(); ++i) {
    params_[i] = header[i + 1];
  }
}

// --- Control packets ---

ControlPacket::ControlPacket(const PacketHeader& received) {
  SetHeader(received);
}

PingPacket::PingPacket() {
  SetType(kPingType);
}

ResetPacket::ResetPacket() {
  SetType(kResetType);
}

LinkPacket::LinkPacket(std::uint16_t sessionDeviceNumber)
    : LinkPacket(sessionDeviceNumber, LinkIdentifiers::ForProcess().HostId()) {}

LinkPacket::LinkPacket(std::uint16_t sessionDeviceNumber, std::uint32_t hostId)
    : sessionDeviceNumber_(sessionDeviceNumber), hostId_(hostId) {
  SetType(kLinkType);
  SetParam16(1, sessionDeviceNumber);
  SetParam16(3, static_cast<std::uint16_t>(hostId & 0xFFFF));
  SetParam(5, static_cast<std::uint8_t>((hostId >> 16) & 0xFF));
  SetParam(6, static_cast<std::uint8_t>(hostId >> 24));
}

UnlinkPacket::UnlinkPacket(std::int32_t sleepPeriodSeconds)
    : sleepPeriodSeconds_(sleepPeriodSeconds) {
  SetType(kUnlinkType);
  const std::int32_t steps = sleepPeriodSeconds < 0 ? 0 : sleepPeriodSeconds / kUnlinkStepSeconds;
  SetParam(6, static_cast<std::uint8_t>(steps & 0xFF));
}

// --- Logical packets ---

LogicalPacket::LogicalPacket(const PacketHeader& header, std::vector<std::uint8_t> payload) {
  SetHeader(header);
  SetPayload(std::move(payload));
}

LogicalPacket::LogicalPacket(const Packet& other) {
  std::vector<std::uint8_t> bytes;
  other.Serialize(bytes);
  // A transport packet puts its own byte before the header of the packet it carries.
  const std::size_t offset = dynamic_cast<const TransportPacket*>(&other) != nullptr ? 1 : 0;
  PacketHeader header{};
  for (std::size_t i = 0; i < header.size() && offset + i < bytes.size(); ++i) {
    header[i] = bytes[offset + i];
  }
  SetHeader(header);
  SetPayload(other.Payload());
}

StatusPacket::StatusPacket(const LogicalPacket& received) : LogicalPacket(received) {}

std::uint32_t StatusPacket::StatusData() const {
  return static_cast<std::uint32_t>(Param16(1)) | (static_cast<std::uint32_t>(Param16(3)) << 16);
}

std::vector<std::uint8_t> StatusPacket::ResultBytes() const {
  const PacketHeader header = Header();
  return {header.begin(), header.end()};
}

DataRequestPacket::DataRequestPacket() {
  SetType(LogicalTypeByte(kDataRequestType));
  SetParam16(1, kDefaultRequestedSize);
}

DataRequestPacket::DataRequestPacket(const LogicalPacket& received) : LogicalPacket(received) {}

DataPacket::DataPacket(std::vector<std::uint8_t> chunk, const DataRequestPacket& answered) {
  if (chunk.size() > 0xFFFF) {
    throw std::length_error("data packet chunk longer than its size field can say");
  }
  SetType(LogicalTypeByte(kDataType));
  SetParam16(1, static_cast<std::uint16_t>(chunk.size()));
  SetParam16(3, answered.RequestNumber());
  SetParam(5, answered.Byte5());
  SetParam(6, Checksum(chunk));
  SetPayload(std::move(chunk));
}

DataPacket::DataPacket(const LogicalPacket& received) : LogicalPacket(received) {}

CommandPacket::CommandPacket(const LogicalPacket& source) {
  SetHeader(source.Header());
}

// --- Transport packet ---

TransportPacket::TransportPacket(const Packet& inner, int sequence) {
  std::vector<std::uint8_t> bytes;
  inner.Serialize(bytes);
  PacketHeader carried{};
  for (std::size_t i = 0; i < carried.size() && i < bytes.size(); ++i) {
    carried[i] = bytes[i];
  }
  const auto control = inner.IsControl() ? kTransportControlBit : std::uint8_t{0};
  // Two's complement makes the low bits of a negative counter count on modulo 8 as well.
  const auto sequenceBits = static_cast<std::uint8_t>(sequence & kSequenceMask);
  SetType(static_cast<std::uint8_t>(kTransportBase | control | sequenceBits));
  for (std::size_t i = 0; i + 1 < carried.size(); ++i) {
    SetParam(i + 1, carried[i]);
  }
  lastByte_ = carried[6];
  SetPayload(inner.Payload());
}

TransportPacket::TransportPacket(const TransportHeader& received) {
  SetType(received[0]);
  for (std::size_t i = 1; i < 7; ++i) {
    SetParam(i, received[i]);
  }
  lastByte_ = received[7];
}

bool TransportPacket::IsControl() const {
  return (TransportByte() & kTransportControlBit) != 0;
}

void TransportPacket::Serialize(std::vector<std::uint8_t>& out) const {
  const TransportHeader header = FullHeader();
  out.assign(header.begin(), header.end());
  out.insert(out.end(), Payload().begin(), Payload().end());
}

TransportHeader TransportPacket::FullHeader() const {
  TransportHeader header{};
  const PacketHeader first = Header();
  for (std::size_t i = 0; i < first.size(); ++i) {
    header[i] = first[i];
  }
  header[7] = lastByte_;
  return header;
}

PacketHeader TransportPacket::Carried() const {
  const TransportHeader full = FullHeader();
  PacketHeader carried{};
  for (std::size_t i = 0; i < carried.size(); ++i) {
    carried[i] = full[i + 1];
  }
  return carried;
}

}  // namespace Pellux
