#include "sim/virtual_tracker.h"

#include <algorithm>
#include <tuple>

#include "link/packet_bytes.h"
#include "link/received_unit.h"

namespace Pellux {

namespace {

// Control codes of the packets the host sends.
constexpr std::uint8_t kPing = 0x00;
constexpr std::uint8_t kReset = 0x01;
constexpr std::uint8_t kLink = 0x02;
constexpr std::uint8_t kUnlink = 0x03;

constexpr std::uint8_t kStatusTypeByte = LogicalPacket::kStatusType << 5;
constexpr std::uint8_t kDataRequestTypeByte = LogicalPacket::kDataRequestType << 5;

constexpr std::size_t kUnitSize = std::tuple_size_v<TransportHeader>;

std::uint8_t Byte(std::uint32_t value, int index) {
  return static_cast<std::uint8_t>((value >> (8 * index)) & 0xFF);
}

}  // namespace

VirtualTracker::VirtualTracker(TrackerOptions options)
    : options_(options), defaultAnswer_(TrackerAnswer::Status(TrackerAnswer::kUnknownCommand)) {}

void VirtualTracker::SetAnswer(std::vector<std::uint8_t> commandPrefix, TrackerAnswer answer) {
  answers_[std::move(commandPrefix)] = std::move(answer);
}

void VirtualTracker::SetDefaultAnswer(TrackerAnswer answer) {
  defaultAnswer_ = std::move(answer);
}

void VirtualTracker::Update(TimePoint now) {
  const bool wakes = state_ == TrackerLinkState::Asleep && now >= wakeTime_;
  const bool givesUp =
      state_ == TrackerLinkState::Linked && now - lastHeard_ >= options_.sessionIdleTimeout;
  if (wakes || givesUp) EndSession(TrackerLinkState::Searching);
}

std::uint16_t VirtualTracker::DeviceNumber() const {
  return state_ == TrackerLinkState::Linked ? sessionDeviceNumber_ : options_.searchDeviceNumber;
}

std::array<std::uint8_t, 8> VirtualTracker::Beacon() const {
  const std::uint32_t host = IsLinked() ? hostId_ : 0;
  return {Byte(host, 0),
          Byte(host, 1),
          Byte(host, 2),
          Byte(host, 3),
          Byte(options_.serialNumber, 0),
          Byte(options_.serialNumber, 1),
          Byte(options_.serialNumber, 2),
          Byte(options_.serialNumber, 3)};
}

std::vector<std::uint8_t> VirtualTracker::TakeOutgoing() {
  if (outgoing_.empty()) return {};
  std::vector<std::uint8_t> image = std::move(outgoing_.front());
  outgoing_.pop_front();
  return image;
}

void VirtualTracker::Receive(std::span<const std::uint8_t> image, TimePoint now) {
  if (image.size() < kUnitSize) return;
  lastHeard_ = now;
  const std::vector<std::uint8_t> bytes(image.begin(), image.end());
  // The host resends a unit whose acknowledgement it missed; the repeat changes nothing.
  if (lastAccepted_ == bytes) {
    ++duplicatesIgnored_;
    return;
  }
  lastAccepted_ = bytes;
  received_.push_back(bytes);

  const ReceivedUnit unit = ClassifyUnit(image.first(kUnitSize));
  switch (unit.kind) {
    case UnitKind::Control:
      HandleControl(unit.header, now);
      break;
    case UnitKind::DataRequest:
      HandleDataRequest(unit.header);
      break;
    case UnitKind::Data:
      HandleData(unit.header, image.subspan(kUnitSize));
      break;
    default:
      // Whatever else the host sends once linked is a command of the server.
      HandleCommand(unit.header);
      break;
  }
}

void VirtualTracker::HandleControl(const PacketHeader& header, TimePoint now) {
  switch (header[0]) {
    case kPing:
      // Any control packet back is a PONG to the host.
      Send(ControlPacket(PacketHeader{}));
      break;
    case kReset:
      EndSession(TrackerLinkState::Searching);
      break;
    case kLink:
      EndSession(TrackerLinkState::Linked);
      sessionDeviceNumber_ = static_cast<std::uint16_t>(header[1] | (header[2] << 8));
      hostId_ = static_cast<std::uint32_t>(header[3]) |
                (static_cast<std::uint32_t>(header[4]) << 8) |
                (static_cast<std::uint32_t>(header[5]) << 16) |
                (static_cast<std::uint32_t>(header[6]) << 24);
      lastHeard_ = now;
      break;
    case kUnlink:
      sleepUnits_ = header[6];
      wakeTime_ = now + kSleepUnit * sleepUnits_;
      EndSession(sleepUnits_ == 0 ? TrackerLinkState::Searching : TrackerLinkState::Asleep);
      break;
    default:
      break;
  }
}

void VirtualTracker::HandleCommand(const PacketHeader& header) {
  commands_.push_back(ReceivedCommand{header, {}});
  const TrackerAnswer& answer = FindAnswer(header);
  transfer_ = Transfer{};
  switch (answer.kind) {
    case TrackerAnswer::Kind::Status:
      SendStatus(answer.statusCode, answer.statusData);
      break;
    case TrackerAnswer::Kind::Download:
      transfer_.mode = TransferMode::Download;
      transfer_.answer = answer;
      SendStatus(StatusPacket::kDataAvailable, static_cast<std::uint32_t>(answer.data.size()));
      break;
    case TrackerAnswer::Kind::Upload:
      transfer_.mode = TransferMode::Upload;
      transfer_.answer = answer;
      SendDataRequest(answer.requestSize);
      break;
  }
}

void VirtualTracker::HandleDataRequest(const PacketHeader& header) {
  const DataRequestPacket request{LogicalPacket(header)};
  if (transfer_.mode != TransferMode::Download) {
    // Nothing to hand out: an empty chunk ends the host's transfer at once.
    Send(DataPacket({}, request));
    return;
  }
  const std::vector<std::uint8_t>& data = transfer_.answer.data;
  const std::size_t count =
      std::min<std::size_t>(request.RequestedSize(), data.size() - transfer_.offset);
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(transfer_.offset);
  Send(DataPacket(std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(count)),
                  request));
  transfer_.offset += count;
  if (count == 0) transfer_ = Transfer{};
}

void VirtualTracker::HandleData(const PacketHeader& header, std::span<const std::uint8_t> payload) {
  if (transfer_.mode != TransferMode::Upload) return;
  const DataPacket packet{LogicalPacket(header)};
  const std::size_t size = packet.DeclaredSize();
  const bool answersRequest = packet.RequestNumber() == transfer_.requestNumber &&
                              packet.Byte5() == 0 && size <= transfer_.answer.requestSize;
  if (!answersRequest || payload.size() < size ||
      Checksum(payload.first(size)) != packet.PayloadChecksum()) {
    ++dataErrors_;
    transfer_ = Transfer{};
    SendStatus(TrackerAnswer::kBadData, 0);
    return;
  }
  std::vector<std::uint8_t>& collected = commands_.back().payload;
  collected.insert(collected.end(), payload.begin(),
                   payload.begin() + static_cast<std::ptrdiff_t>(size));
  transfer_.collected += size;
  const auto& expected = transfer_.answer.uploadSize;
  if (size == 0 || (expected && transfer_.collected >= *expected)) {
    const TrackerAnswer answer = transfer_.answer;
    const auto collectedSize = static_cast<std::uint32_t>(transfer_.collected);
    transfer_ = Transfer{};
    SendStatus(answer.statusCode, collectedSize);
    return;
  }
  SendDataRequest(transfer_.answer.requestSize);
}

void VirtualTracker::EndSession(TrackerLinkState next) {
  state_ = next;
  transfer_ = Transfer{};
  outgoing_.clear();
  transmitSequence_ = 0;
  requestCounter_ = 0;
  if (next == TrackerLinkState::Searching) lastHeard_ = {};
}

const TrackerAnswer& VirtualTracker::FindAnswer(const PacketHeader& header) const {
  const TrackerAnswer* best = &defaultAnswer_;
  std::size_t bestLength = 0;
  for (const auto& [prefix, answer] : answers_) {
    if (prefix.size() > header.size() || prefix.size() < bestLength) continue;
    if (std::equal(prefix.begin(), prefix.end(), header.begin())) {
      best = &answer;
      bestLength = prefix.size();
    }
  }
  return *best;
}

void VirtualTracker::Send(const Packet& packet) {
  std::vector<std::uint8_t> image;
  TransportPacket(packet, transmitSequence_++).Serialize(image);
  image.resize((image.size() + kUnitSize - 1) / kUnitSize * kUnitSize, 0);
  outgoing_.push_back(std::move(image));
}

void VirtualTracker::SendStatus(std::uint8_t code, std::uint32_t statusData) {
  const PacketHeader header{static_cast<std::uint8_t>(kStatusTypeByte | (code & 0x0F)),
                            Byte(statusData, 0),
                            Byte(statusData, 1),
                            Byte(statusData, 2),
                            Byte(statusData, 3),
                            0,
                            0};
  Send(LogicalPacket(header));
}

void VirtualTracker::SendDataRequest(std::uint16_t requestedSize) {
  transfer_.requestNumber = requestCounter_++;
  const PacketHeader header{kDataRequestTypeByte,
                            Byte(requestedSize, 0),
                            Byte(requestedSize, 1),
                            Byte(transfer_.requestNumber, 0),
                            Byte(transfer_.requestNumber, 1),
                            0,
                            0};
  Send(LogicalPacket(header));
}

TrackerSnapshot VirtualTracker::Snapshot() const {
  TrackerSnapshot snapshot;
  snapshot.state = state_;
  snapshot.sessionDeviceNumber = sessionDeviceNumber_;
  snapshot.hostId = hostId_;
  snapshot.commands = commands_;
  snapshot.received = received_;
  snapshot.duplicatesIgnored = duplicatesIgnored_;
  snapshot.dataErrors = dataErrors_;
  snapshot.sleepUnits = sleepUnits_;
  snapshot.wakeTime = wakeTime_;
  return snapshot;
}

}  // namespace Pellux
