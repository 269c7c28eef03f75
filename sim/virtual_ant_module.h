#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/ant_channel.h"
#include "sim/ant_frame.h"

namespace Pellux {

class FaultPlan;
class VirtualTracker;

// The ANT module of the virtual base station: answers the host's messages as a module does,
// keeps each channel's configuration and state, and in every message period of an open channel
// carries the air traffic between the host and the tracker. It neither keeps time nor owns a
// thread: the station calls it under its lock and schedules the message periods it asks for.
// Not thread-safe.
class VirtualAntModule {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  // Response codes beyond those the host acts on.
  static constexpr std::uint8_t kTransferInProgress = 0x1F;
  static constexpr std::uint8_t kInvalidMessage = 0x28;
  // Event reported when a channel that had found the tracker gives up on it and searches again.
  static constexpr std::uint8_t kRxFailGoToSearch = 0x08;
  // Consecutive message periods without the tracker before a channel searches again.
  static constexpr int kMissedSlotsBeforeSearch = 8;
  // The only channel type that hears the tracker: bidirectional receive, as the host uses.
  static constexpr std::uint8_t kSlaveChannel = 0x00;
  static constexpr std::size_t kNetworkCount = 8;
  static constexpr std::uint8_t kDefaultTransmitPower = 3;
  static constexpr std::uint8_t kMaxTransmitPower = 4;
  static constexpr std::uint8_t kMaxFrequency = 124;

  VirtualAntModule(std::size_t channelCount, VirtualTracker& tracker, FaultPlan& faults);

  // One message from the host; returns what the module answers at once (a channel response,
  // the start-up message, the channel-closed event after a close).
  std::vector<AntFrame> Process(const AntFrame& message, TimePoint now);
  // A message period of `channel` has passed: returns what the module reports for it. First
  // the tracker's message (its next packet, else its beacon; receive-failure events when it is
  // not heard), then the outcome of the host's transfer that waited for this period. The
  // tracker's answer to that transfer goes out in a later period.
  std::vector<AntFrame> Slot(std::uint8_t number, TimePoint now);
  // When the next message period of `channel` ends; nullopt while the channel is not open.
  [[nodiscard]] std::optional<TimePoint> NextSlot(std::uint8_t number) const;
  // Changes whenever the channel's schedule does (opened, closed, new period).
  [[nodiscard]] std::uint64_t Epoch(std::uint8_t channel) const { return channels_[channel].epoch; }

  // Back to the state after power-up: every channel unassigned, no network key set.
  void PowerUp();

  [[nodiscard]] std::size_t ChannelCount() const { return channels_.size(); }
  [[nodiscard]] const AntChannel& Channel(std::uint8_t channel) const { return channels_[channel]; }
  [[nodiscard]] std::uint8_t TransmitPower() const { return transmitPower_; }

 private:
  using NetworkKey = std::array<std::uint8_t, 8>;

  // Each returns the response code, or nullopt when the message gets no response.
  std::optional<std::uint8_t> Assign(AntChannel& channel, std::span<const std::uint8_t> data);
  std::optional<std::uint8_t> Open(AntChannel& channel, TimePoint now);
  std::optional<std::uint8_t> Close(AntChannel& channel, std::vector<AntFrame>& events);
  std::optional<std::uint8_t> AcknowledgedData(AntChannel& channel,
                                               std::span<const std::uint8_t> data);
  std::optional<std::uint8_t> Configure(const AntFrame& message, TimePoint now);
  void BurstBlock(std::span<const std::uint8_t> data, std::vector<AntFrame>& out);

  [[nodiscard]] bool Hears(const AntChannel& channel) const;
  void SendTrackerSlot(std::uint8_t number, std::vector<AntFrame>& out);
  void CompleteTransfer(std::uint8_t number, bool heard, TimePoint now, std::vector<AntFrame>& out);
  void EndSearch(std::uint8_t number, std::vector<AntFrame>& out);
  void NewEpoch(AntChannel& channel, TimePoint now);
  static void ResetTransfer(AntChannel& channel);

  VirtualTracker& tracker_;
  FaultPlan& faults_;
  std::vector<AntChannel> channels_;
  std::array<std::optional<NetworkKey>, kNetworkCount> networkKeys_{};
  std::uint8_t transmitPower_ = kDefaultTransmitPower;
  // Epochs are never reused, not even across a reset.
  std::uint64_t epochCounter_ = 0;
  // A unit of the tracker to be reported once more in the next message period.
  std::optional<std::vector<std::uint8_t>> repeat_;
};

}  // namespace Pellux
