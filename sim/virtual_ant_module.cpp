#include "sim/virtual_ant_module.h"

#include <algorithm>
#include <tuple>

#include "device/ant_message.h"
#include "link/received_unit.h"
#include "sim/fault_plan.h"
#include "sim/virtual_tracker.h"

namespace Pellux {

namespace {

constexpr std::size_t kUnitSize = std::tuple_size_v<TransportHeader>;
// The channel number sits in the low bits of a burst block's channel byte, the burst sequence
// in bits 6-5 and the last-block flag in bit 7.
constexpr std::uint8_t kBurstChannelMask = 0x1F;
constexpr std::uint8_t kBurstLast = 0x80;
constexpr int kBurstSequenceShift = 5;
constexpr std::uint8_t kBurstSequenceMask = 0x03;
// The host searches for any device with one of these device numbers.
constexpr std::uint16_t kWildcardDeviceNumber = 0;
constexpr std::uint16_t kSearchAnyDeviceNumber = 0xFFFF;
// A message period lasts period / 32768 seconds.
constexpr std::uint64_t kPeriodUnitsPerSecond = 32768;

AntFrame Response(std::uint8_t first, std::uint8_t answered, std::uint8_t code) {
  return AntFrame{AntId::kChannelResponse, {first, answered, code}};
}

AntFrame Event(std::uint8_t channel, std::uint8_t code) {
  return AntFrame{AntId::kChannelResponse, {channel, AntId::kEvent, code}};
}

AntFrame Data(std::uint8_t id, std::uint8_t channelByte, std::span<const std::uint8_t> block) {
  AntFrame frame{id, {channelByte}};
  frame.data.insert(frame.data.end(), block.begin(), block.end());
  return frame;
}

// Data length of each message the module knows, or nullopt for an unknown id.
std::optional<std::size_t> ExpectedLength(std::uint8_t id) {
  switch (id) {
    case AntId::kNetworkKey:
    case AntId::kAcknowledgedData:
    case AntId::kBurstData:
      return 9;
    case AntId::kAssignChannel:
    case AntId::kChannelPeriod:
      return 3;
    case AntId::kSearchTimeout:
    case AntId::kRadioFrequency:
    case AntId::kTransmitPower:
      return 2;
    case AntId::kChannelId:
      return 5;
    case AntId::kSystemReset:
    case AntId::kOpenChannel:
    case AntId::kCloseChannel:
      return 1;
    default:
      return std::nullopt;
  }
}

// Whether the first data byte of the message is a channel number as it stands. A burst block's
// also carries its sequence bits and is checked with them.
bool AddressesChannel(std::uint8_t id) {
  return id != AntId::kNetworkKey && id != AntId::kTransmitPower && id != AntId::kSystemReset &&
         id != AntId::kBurstData;
}

// The refusal for data or a close on a channel that is not open.
std::uint8_t NotOpenCode(const AntChannel& channel) {
  return channel.state == AntChannel::State::Unassigned ? AntResponse::kChannelInWrongState
                                                        : AntResponse::kChannelNotOpened;
}

bool CarriesDataPacket(std::span<const std::uint8_t> image) {
  return image.size() >= kUnitSize && ClassifyUnit(image.first(kUnitSize)).kind == UnitKind::Data;
}

// Bytes 2-3 of the image are the data packet's size, byte 7 its checksum.
void Corrupt(std::vector<std::uint8_t>& image, BurstCorruption corruption) {
  if (corruption == BurstCorruption::Checksum) {
    image[7] ^= 0xFF;
    return;
  }
  const auto size = static_cast<std::uint16_t>((image[2] | (image[3] << 8)) + kUnitSize);
  image[2] = static_cast<std::uint8_t>(size & 0xFF);
  image[3] = static_cast<std::uint8_t>(size >> 8);
}

}  // namespace

VirtualAntModule::VirtualAntModule(std::size_t channelCount, VirtualTracker& tracker,
                                   FaultPlan& faults)
    : tracker_(tracker), faults_(faults), channels_(channelCount) {
  PowerUp();
}

void VirtualAntModule::PowerUp() {
  std::fill(channels_.begin(), channels_.end(), AntChannel{});
  for (AntChannel& channel : channels_) {
    channel.epoch = ++epochCounter_;
  }
  networkKeys_.fill(std::nullopt);
  transmitPower_ = kDefaultTransmitPower;
  repeat_.reset();
}

std::vector<AntFrame> VirtualAntModule::Process(const AntFrame& message, TimePoint now) {
  std::vector<AntFrame> out;
  const std::span<const std::uint8_t> data(message.data);
  const std::uint8_t first = data.empty() ? 0 : data[0];
  const std::optional<std::size_t> length = ExpectedLength(message.id);
  const bool lengthOk = length && (data.size() == *length ||
                                   // An assignment may carry an extended-assignment byte.
                                   (message.id == AntId::kAssignChannel && data.size() == 4));
  if (!lengthOk || (AddressesChannel(message.id) && first >= channels_.size())) {
    out.push_back(Response(first, message.id, kInvalidMessage));
    return out;
  }
  if (message.id == AntId::kSystemReset) {
    PowerUp();
    out.push_back(AntFrame{AntId::kStartup, {kAntStartupCommandReset}});
    return out;
  }
  if (message.id == AntId::kBurstData) {
    BurstBlock(data, out);
    return out;
  }
  if (const auto refusal = faults_.TakeRefusal(message.id)) {
    out.push_back(Response(first, message.id, *refusal));
    return out;
  }

  std::vector<AntFrame> events;
  std::optional<std::uint8_t> code;
  switch (message.id) {
    case AntId::kAssignChannel:
      code = Assign(channels_[first], data);
      break;
    case AntId::kOpenChannel:
      code = Open(channels_[first], now);
      break;
    case AntId::kCloseChannel:
      code = Close(channels_[first], events);
      break;
    case AntId::kAcknowledgedData:
      if (faults_.TransfersSwallowed() && channels_[first].state == AntChannel::State::Open) {
        events.push_back(Event(first, AntEvent::kTransferTxCompleted));
        break;
      }
      code = AcknowledgedData(channels_[first], data);
      break;
    default:
      code = Configure(message, now);
      break;
  }
  if (code) out.push_back(Response(first, message.id, *code));
  out.insert(out.end(), events.begin(), events.end());
  return out;
}

std::optional<std::uint8_t> VirtualAntModule::Assign(AntChannel& channel,
                                                     std::span<const std::uint8_t> data) {
  if (channel.state != AntChannel::State::Unassigned) return AntResponse::kChannelInWrongState;
  if (data[2] >= kNetworkCount) return kInvalidMessage;
  channel.state = AntChannel::State::Assigned;
  channel.type = data[1];
  channel.network = data[2];
  return AntResponse::kNoError;
}

std::optional<std::uint8_t> VirtualAntModule::Open(AntChannel& channel, TimePoint now) {
  if (channel.state != AntChannel::State::Assigned) return AntResponse::kChannelInWrongState;
  channel.state = AntChannel::State::Open;
  channel.tracking = false;
  channel.missedSlots = 0;
  channel.searchStart = now;
  ResetTransfer(channel);
  NewEpoch(channel, now);
  return AntResponse::kNoError;
}

std::optional<std::uint8_t> VirtualAntModule::Close(AntChannel& channel,
                                                    std::vector<AntFrame>& events) {
  if (channel.state != AntChannel::State::Open) return NotOpenCode(channel);
  channel.state = AntChannel::State::Assigned;
  channel.tracking = false;
  ResetTransfer(channel);
  channel.epoch = ++epochCounter_;
  const auto number = static_cast<std::uint8_t>(&channel - channels_.data());
  events.push_back(Event(number, AntEvent::kChannelClosed));
  return AntResponse::kNoError;
}

std::optional<std::uint8_t> VirtualAntModule::AcknowledgedData(AntChannel& channel,
                                                               std::span<const std::uint8_t> data) {
  if (channel.state != AntChannel::State::Open) return NotOpenCode(channel);
  if (channel.transfer != AntChannel::Transfer::None) return kTransferInProgress;
  channel.transfer = AntChannel::Transfer::Ready;
  channel.acknowledged = true;
  channel.image.assign(data.begin() + 1, data.end());
  return std::nullopt;
}

std::optional<std::uint8_t> VirtualAntModule::Configure(const AntFrame& message, TimePoint now) {
  const std::vector<std::uint8_t>& data = message.data;
  switch (message.id) {
    case AntId::kNetworkKey:
      if (data[0] >= kNetworkCount) return kInvalidMessage;
      networkKeys_[data[0]] =
          NetworkKey{data[1], data[2], data[3], data[4], data[5], data[6], data[7], data[8]};
      return AntResponse::kNoError;
    case AntId::kTransmitPower:
      if (data[1] > kMaxTransmitPower) return kInvalidMessage;
      transmitPower_ = data[1];
      return AntResponse::kNoError;
    default:
      break;
  }
  AntChannel& channel = channels_[data[0]];
  if (channel.state == AntChannel::State::Unassigned) return AntResponse::kChannelInWrongState;
  switch (message.id) {
    case AntId::kChannelPeriod: {
      const auto period = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
      if (period == 0) return kInvalidMessage;
      channel.period = period;
      if (channel.state == AntChannel::State::Open) NewEpoch(channel, now);
      return AntResponse::kNoError;
    }
    case AntId::kSearchTimeout:
      channel.searchTimeout = data[1];
      return AntResponse::kNoError;
    case AntId::kRadioFrequency:
      if (data[1] > kMaxFrequency) return kInvalidMessage;
      channel.frequency = data[1];
      return AntResponse::kNoError;
    case AntId::kChannelId:
      // The channel id is what an open channel searches for; it is fixed while open.
      if (channel.state == AntChannel::State::Open) return AntResponse::kChannelInWrongState;
      channel.deviceNumber = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
      channel.deviceType = data[3];
      channel.transmissionType = data[4];
      return AntResponse::kNoError;
    default:
      return kInvalidMessage;
  }
}

void VirtualAntModule::BurstBlock(std::span<const std::uint8_t> data, std::vector<AntFrame>& out) {
  const auto number = static_cast<std::uint8_t>(data[0] & kBurstChannelMask);
  if (number >= channels_.size()) {
    out.push_back(Response(number, AntId::kBurstData, kInvalidMessage));
    return;
  }
  AntChannel& channel = channels_[number];
  if (channel.state != AntChannel::State::Open) {
    out.push_back(Response(number, AntId::kBurstData, NotOpenCode(channel)));
    return;
  }
  const auto sequence =
      static_cast<std::uint8_t>((data[0] >> kBurstSequenceShift) & kBurstSequenceMask);
  const std::span<const std::uint8_t> block = data.subspan(1);
  if (sequence == 0) {
    if (channel.transfer == AntChannel::Transfer::Ready ||
        channel.transfer == AntChannel::Transfer::Failed) {
      out.push_back(Response(number, AntId::kBurstData, kTransferInProgress));
      return;
    }
    // A first block while another burst was coming in starts that one over.
    channel.transfer = AntChannel::Transfer::Assembling;
    channel.acknowledged = false;
    channel.image.assign(block.begin(), block.end());
  } else {
    if (channel.transfer == AntChannel::Transfer::None) {
      // A continuation without a first block: the burst is broken.
      channel.transfer = AntChannel::Transfer::Failed;
      return;
    }
    if (channel.transfer != AntChannel::Transfer::Assembling) return;
    const std::uint8_t expected =
        channel.lastBurstSequence == kBurstSequenceMask ? 1 : channel.lastBurstSequence + 1;
    if (sequence != expected) {
      channel.transfer = AntChannel::Transfer::Failed;
      channel.image.clear();
      return;
    }
    channel.image.insert(channel.image.end(), block.begin(), block.end());
  }
  channel.lastBurstSequence = sequence;
  if ((data[0] & kBurstLast) == 0) return;
  if (faults_.TransfersSwallowed()) {
    ResetTransfer(channel);
    out.push_back(Event(number, AntEvent::kTransferTxCompleted));
    return;
  }
  channel.transfer = AntChannel::Transfer::Ready;
}

std::vector<AntFrame> VirtualAntModule::Slot(std::uint8_t number, TimePoint now) {
  std::vector<AntFrame> out;
  AntChannel& channel = channels_[number];
  if (channel.state != AntChannel::State::Open) return out;
  ++channel.slotsInEpoch;
  tracker_.Update(now);
  if (faults_.TakeSearchTimeout()) {
    EndSearch(number, out);
    return out;
  }
  const bool heard = Hears(channel);
  if (heard) {
    channel.tracking = true;
    channel.missedSlots = 0;
    SendTrackerSlot(number, out);
  } else if (channel.tracking) {
    out.push_back(Event(number, AntEvent::kRxFail));
    if (++channel.missedSlots >= kMissedSlotsBeforeSearch) {
      channel.tracking = false;
      channel.searchStart = now;
      out.push_back(Event(number, kRxFailGoToSearch));
    }
  } else if (channel.searchTimeout != AntChannel::kInfiniteSearch &&
             now - channel.searchStart >= AntChannel::kSearchTimeoutUnit * channel.searchTimeout) {
    EndSearch(number, out);
    return out;
  }
  CompleteTransfer(number, heard, now, out);
  return out;
}

std::optional<VirtualAntModule::TimePoint> VirtualAntModule::NextSlot(std::uint8_t number) const {
  const AntChannel& channel = channels_[number];
  if (channel.state != AntChannel::State::Open) return std::nullopt;
  const std::uint64_t units = (channel.slotsInEpoch + 1) * channel.period;
  const auto offset = std::chrono::milliseconds(units * 1000 / kPeriodUnitsPerSecond);
  return channel.epochStart + offset;
}

bool VirtualAntModule::Hears(const AntChannel& channel) const {
  if (channel.type != kSlaveChannel) return false;
  if (faults_.TrackerSilent() || !faults_.TrackerInRange() || !tracker_.IsTransmitting()) {
    return false;
  }
  const TrackerOptions& tracker = tracker_.Options();
  const auto& key = networkKeys_[channel.network];
  if (!key || *key != tracker.networkKey) return false;
  if (channel.frequency != tracker.frequency) return false;
  if (channel.deviceType != 0 && channel.deviceType != tracker.deviceType) return false;
  if (channel.transmissionType != 0 && channel.transmissionType != tracker.transmissionType) {
    return false;
  }
  // A linked tracker answers only its host's session channel; a searching one any wildcard.
  if (tracker_.IsLinked()) return channel.deviceNumber == tracker_.DeviceNumber();
  return channel.deviceNumber == kWildcardDeviceNumber ||
         channel.deviceNumber == kSearchAnyDeviceNumber ||
         channel.deviceNumber == tracker_.DeviceNumber();
}

void VirtualAntModule::SendTrackerSlot(std::uint8_t number, std::vector<AntFrame>& out) {
  if (repeat_) {
    out.push_back(Data(AntId::kAcknowledgedData, number, *repeat_));
    repeat_.reset();
    return;
  }
  if (!tracker_.HasOutgoing()) {
    std::array<std::uint8_t, 8> beacon = tracker_.Beacon();
    const auto hostId = faults_.BeaconHostId();
    if (hostId && tracker_.IsLinked()) {
      for (std::size_t i = 0; i < 4; ++i) {
        beacon[i] = static_cast<std::uint8_t>((*hostId >> (8 * i)) & 0xFF);
      }
    }
    out.push_back(Data(AntId::kBroadcastData, number, beacon));
    return;
  }
  std::vector<std::uint8_t> image = tracker_.TakeOutgoing();
  if (image.size() == kUnitSize) {
    if (faults_.TakeLoss(Direction::ToHost)) {
      out.push_back(Event(number, AntEvent::kRxFail));
      return;
    }
    out.push_back(Data(AntId::kAcknowledgedData, number, image));
    if (faults_.TakeDuplicate(Direction::ToHost)) repeat_ = image;
    return;
  }
  if (CarriesDataPacket(image)) {
    if (const auto corruption = faults_.TakeBurstCorruption(Direction::ToHost)) {
      Corrupt(image, *corruption);
    }
  }
  // Sequence bits: 0 on the first block, then 1, 2, 3, 1, 2, 3, ...; bit 7 on the last.
  const std::size_t blocks = image.size() / kUnitSize;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::uint8_t channelByte = number;
    if (i > 0) channelByte |= static_cast<std::uint8_t>(((i - 1) % 3 + 1) << kBurstSequenceShift);
    if (i + 1 == blocks) channelByte |= kBurstLast;
    out.push_back(Data(AntId::kBurstData, channelByte,
                       std::span<const std::uint8_t>(image).subspan(i * kUnitSize, kUnitSize)));
  }
}

void VirtualAntModule::CompleteTransfer(std::uint8_t number, bool heard, TimePoint now,
                                        std::vector<AntFrame>& out) {
  AntChannel& channel = channels_[number];
  if (channel.transfer == AntChannel::Transfer::None ||
      channel.transfer == AntChannel::Transfer::Assembling) {
    return;
  }
  const bool ready = channel.transfer == AntChannel::Transfer::Ready;
  const bool acknowledged = channel.acknowledged;
  std::vector<std::uint8_t> image = std::move(channel.image);
  ResetTransfer(channel);
  if (!ready || !heard || faults_.TakeFailedTransfer() ||
      (acknowledged && faults_.TakeLoss(Direction::ToTracker))) {
    out.push_back(Event(number, AntEvent::kTransferTxFailed));
    return;
  }
  if (!acknowledged && CarriesDataPacket(image)) {
    if (const auto corruption = faults_.TakeBurstCorruption(Direction::ToTracker)) {
      Corrupt(image, *corruption);
    }
  }
  tracker_.Receive(image, now);
  // A lost acknowledgement: the tracker has the unit, the module reports a failure.
  const bool ackLost = acknowledged && faults_.TakeDuplicate(Direction::ToTracker);
  out.push_back(
      Event(number, ackLost ? AntEvent::kTransferTxFailed : AntEvent::kTransferTxCompleted));
}

void VirtualAntModule::EndSearch(std::uint8_t number, std::vector<AntFrame>& out) {
  AntChannel& channel = channels_[number];
  channel.state = AntChannel::State::Assigned;
  channel.tracking = false;
  ResetTransfer(channel);
  channel.epoch = ++epochCounter_;
  out.push_back(Event(number, AntEvent::kRxSearchTimeout));
  out.push_back(Event(number, AntEvent::kChannelClosed));
}

void VirtualAntModule::NewEpoch(AntChannel& channel, TimePoint now) {
  channel.epoch = ++epochCounter_;
  channel.epochStart = now;
  channel.slotsInEpoch = 0;
}

void VirtualAntModule::ResetTransfer(AntChannel& channel) {
  channel.transfer = AntChannel::Transfer::None;
  channel.acknowledged = false;
  channel.image.clear();
  channel.lastBurstSequence = 0;
}

}  // namespace Pellux
