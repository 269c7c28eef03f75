#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace Pellux {

// The seven bytes every packet starts with: the type byte and parameter bytes 1 to 6.
using PacketHeader = std::array<std::uint8_t, 7>;
// One ANT data block as it goes over the air: the transport byte and a packet header.
using TransportHeader = std::array<std::uint8_t, 8>;

// A packet exchanged with the tracker. Packets are small values and are copied freely; the class
// tree only says how each kind lays out its bytes. Multi-byte parameters are little-endian.
class Packet {
 public:
  virtual ~Packet() = default;

  [[nodiscard]] virtual bool IsControl() const = 0;
  // Replaces the contents of `out` with the seven header bytes. Never the payload: that is
  // for the transport packet that carries this one.
  virtual void Serialize(std::vector<std::uint8_t>& out) const;

  [[nodiscard]] const std::vector<std::uint8_t>& Payload() const { return payload_; }
  [[nodiscard]] PacketHeader Header() const;
  [[nodiscard]] std::uint8_t Type() const { return type_; }
  // Parameter byte `index`, from 1 to 6; any other index is a programming error and throws
  // std::out_of_range.
  [[nodiscard]] std::uint8_t Param(std::size_t index) const;

 protected:
  Packet() = default;
  Packet(const Packet&) = default;
  Packet(Packet&&) = default;
  Packet& operator=(const Packet&) = default;
  Packet& operator=(Packet&&) = default;

  void SetType(std::uint8_t type) { type_ = type; }
  void SetParam(std::size_t index, std::uint8_t value);
  // Parameters `index` and `index + 1` as one little-endian value.
  void SetParam16(std::size_t index, std::uint16_t value);
  [[nodiscard]] std::uint16_t Param16(std::size_t index) const;
  void SetHeader(const PacketHeader& header);
  void SetPayload(std::vector<std::uint8_t> payload) { payload_ = std::move(payload); }

 private:
  std::vector<std::uint8_t> payload_;
  std::uint8_t type_ = 0;
  std::array<std::uint8_t, 6> params_{};
};

// Link management between the service and the tracker. Control packets never carry a payload.
class ControlPacket : public Packet {
 public:
  // A control packet received from the tracker. The tracker only ever answers our control
  // packets with a PONG, so whatever the type byte says, the packet is taken as one.
  explicit ControlPacket(const PacketHeader& received);

  [[nodiscard]] bool IsControl() const override { return true; }

 protected:
  ControlPacket() = default;
};

// Asks the tracker whether it is still there.
class PingPacket : public ControlPacket {
 public:
  PingPacket();
};

// Ends whatever the tracker was doing and brings it back to its idle state.
class ResetPacket : public ControlPacket {
 public:
  ResetPacket();
};

// Asks the tracker to move to a session channel under a fresh device number, tagged with the
// host that asks so that the tracker can tell two computers apart.
class LinkPacket : public ControlPacket {
 public:
  // Tagged with the host ID of this process.
  explicit LinkPacket(std::uint16_t sessionDeviceNumber);
  LinkPacket(std::uint16_t sessionDeviceNumber, std::uint32_t hostId);

  [[nodiscard]] std::uint16_t SessionDeviceNumber() const { return sessionDeviceNumber_; }
  [[nodiscard]] std::uint32_t HostId() const { return hostId_; }

 private:
  std::uint16_t sessionDeviceNumber_ = 0;
  std::uint32_t hostId_ = 0;
};

// Sends the tracker back to sleep. The tracker counts its sleep in steps of 15 seconds in one
// byte: the period is divided by 15 (rounding down) and only the low 8 bits of the quotient are
// sent, so periods from 3840 seconds on wrap around. The period comes from a server document;
// a negative one means "do not sleep" and is sent as 0.
class UnlinkPacket : public ControlPacket {
 public:
  explicit UnlinkPacket(std::int32_t sleepPeriodSeconds);

  [[nodiscard]] std::int32_t SleepPeriodSeconds() const { return sleepPeriodSeconds_; }

 private:
  std::int32_t sleepPeriodSeconds_ = 0;
};

// What is exchanged once the tracker is linked. Its type byte holds the logical type in bits
// 7-5, a reserved bit 4 (always sent as 0) and a sub-code in bits 3-0.
class LogicalPacket : public Packet {
 public:
  // The logical types the tracker sends; the others are not recognised on receipt.
  static constexpr std::uint8_t kStatusType = 2;
  static constexpr std::uint8_t kDataRequestType = 3;
  static constexpr std::uint8_t kDataType = 4;

  LogicalPacket() = default;
  // A packet given by its header, such as the decoded operation code of a server command.
  explicit LogicalPacket(const PacketHeader& header, std::vector<std::uint8_t> payload = {});
  // Takes any packet's header as serialised, and its payload. A transport packet gives the
  // packet it carries.
  explicit LogicalPacket(const Packet& other);

  [[nodiscard]] bool IsControl() const override { return false; }

  // Bits 7-5 of the type byte.
  [[nodiscard]] std::uint8_t LogicalType() const { return static_cast<std::uint8_t>(Type() >> 5); }
  // Bits 3-0 of the type byte.
  [[nodiscard]] std::uint8_t SubCode() const { return static_cast<std::uint8_t>(Type() & 0x0F); }
};

// The tracker's answer to a command: its sub-code says how the command went, and bytes 1-4
// carry status data.
class StatusPacket : public LogicalPacket {
 public:
  static constexpr std::uint8_t kSuccess = 1;
  static constexpr std::uint8_t kDataAvailable = 2;

  // Takes the bytes as they are; the caller has classified them as a status packet.
  explicit StatusPacket(const LogicalPacket& received);

  [[nodiscard]] bool IsSuccess() const { return SubCode() == kSuccess; }
  [[nodiscard]] bool HasDataAvailable() const { return SubCode() == kDataAvailable; }
  // Any sub-code other than success and data available.
  [[nodiscard]] bool IsFailure() const { return !IsSuccess() && !HasDataAvailable(); }
  // Bytes 1-4, little-endian.
  [[nodiscard]] std::uint32_t StatusData() const;
  // The answer handed to the command this status ends: the seven header bytes.
  [[nodiscard]] std::vector<std::uint8_t> ResultBytes() const;
};

// Asks the other side for the next chunk of a payload. The service sends it to fetch the
// tracker's answer; the tracker sends it to fetch a command's payload.
class DataRequestPacket : public LogicalPacket {
 public:
  static constexpr std::uint16_t kDefaultRequestedSize = 512;

  // A request for a chunk of the default size; its request number is set when it is sent.
  DataRequestPacket();
  // Takes the bytes as they are; the caller has classified them as a data request.
  explicit DataRequestPacket(const LogicalPacket& received);

  [[nodiscard]] std::uint16_t RequestedSize() const { return Param16(1); }
  [[nodiscard]] std::uint16_t RequestNumber() const { return Param16(3); }
  void SetRequestNumber(std::uint16_t requestNumber) { SetParam16(3, requestNumber); }
  // Byte 5, which the answering data packet echoes.
  [[nodiscard]] std::uint8_t Byte5() const { return Param(5); }
};

// One chunk of a payload, answering a data request. An empty chunk ends the transfer.
class DataPacket : public LogicalPacket {
 public:
  // Echoes the request's number and byte 5 so that the other side can match the answer.
  // A chunk longer than the 16-bit size field can say is a programming error and throws
  // std::length_error.
  DataPacket(std::vector<std::uint8_t> chunk, const DataRequestPacket& answered);
  // Takes the bytes as they are; the caller has classified them as a data packet.
  explicit DataPacket(const LogicalPacket& received);

  [[nodiscard]] std::uint16_t DeclaredSize() const { return Param16(1); }
  [[nodiscard]] bool IsEndOfTransfer() const { return DeclaredSize() == 0; }
  [[nodiscard]] std::uint16_t RequestNumber() const { return Param16(3); }
  [[nodiscard]] std::uint8_t Byte5() const { return Param(5); }
  // Byte 6: the XOR of the payload's bytes.
  [[nodiscard]] std::uint8_t PayloadChecksum() const { return Param(6); }
};

// A remote operation of the server, sent to the tracker as it stands: its header is the first
// seven bytes of the operation code.
class CommandPacket : public LogicalPacket {
 public:
  // The header of `source`; any payload of `source` is dropped, since a command's payload goes
  // out only when the tracker asks for it.
  explicit CommandPacket(const LogicalPacket& source);
};

// The on-air wrapper of every packet: a transport byte, then the header of the carried packet,
// then its payload. The transport byte holds 0x38, bit 6 set for control packets, and the
// sequence number in bits 2-0. Header() gives bytes 0-6, FullHeader() all eight.
class TransportPacket : public Packet {
 public:
  // Wraps `inner` (a control or logical packet) with the low three bits of `sequence`; the
  // counter may have any value, negative ones included.
  TransportPacket(const Packet& inner, int sequence);
  // A block received from the radio; what follows it is not known yet, so no payload.
  explicit TransportPacket(const TransportHeader& received);

  // Bit 6 of the transport byte.
  [[nodiscard]] bool IsControl() const override;
  // Replaces the contents of `out` with the eight header bytes followed by the payload.
  void Serialize(std::vector<std::uint8_t>& out) const override;

  [[nodiscard]] std::uint8_t TransportByte() const { return Type(); }
  [[nodiscard]] std::uint8_t Sequence() const {
    return static_cast<std::uint8_t>(TransportByte() & 0x07);
  }
  [[nodiscard]] TransportHeader FullHeader() const;
  // Bytes 1-7: the header of the carried packet.
  [[nodiscard]] PacketHeader Carried() const;

 private:
  // Byte 7 does not fit the seven bytes every packet has.
  std::uint8_t lastByte_ = 0;
};

}  // namespace Pellux
