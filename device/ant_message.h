#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Pellux {

// One ANT message as the framer's callers see it: an id and up to 20 data bytes; the data
// length travels beside it.
inline constexpr std::size_t kAntMaxDataSize = 20;

struct AntMessage {
  std::uint8_t id = 0;
  std::array<std::uint8_t, kAntMaxDataSize> data{};
};

// Frame layout: sync, length, id, data, checksum (XOR of everything before it).
inline constexpr std::uint8_t kAntSync = 0xA4;

// Message ids of the ANT serial protocol that we use.
namespace AntId {
inline constexpr std::uint8_t kChannelResponse = 0x40;  // response or event (answered id 0x01)
inline constexpr std::uint8_t kAssignChannel = 0x42;
inline constexpr std::uint8_t kChannelPeriod = 0x43;
inline constexpr std::uint8_t kSearchTimeout = 0x44;
inline constexpr std::uint8_t kRadioFrequency = 0x45;
inline constexpr std::uint8_t kNetworkKey = 0x46;
inline constexpr std::uint8_t kTransmitPower = 0x47;
inline constexpr std::uint8_t kSystemReset = 0x4A;
inline constexpr std::uint8_t kOpenChannel = 0x4B;
inline constexpr std::uint8_t kCloseChannel = 0x4C;
inline constexpr std::uint8_t kBroadcastData = 0x4E;
inline constexpr std::uint8_t kAcknowledgedData = 0x4F;
inline constexpr std::uint8_t kBurstData = 0x50;
inline constexpr std::uint8_t kChannelId = 0x51;
inline constexpr std::uint8_t kStartup = 0x6F;
// The "answered id" of a channel event inside a 0x40 message.
inline constexpr std::uint8_t kEvent = 0x01;
}  // namespace AntId

// Response codes (third data byte of a channel response).
namespace AntResponse {
inline constexpr std::uint8_t kNoError = 0x00;
inline constexpr std::uint8_t kChannelInWrongState = 0x15;
inline constexpr std::uint8_t kChannelNotOpened = 0x16;
// A data message refused because a transfer on the channel is still in progress.
inline constexpr std::uint8_t kTransferInProgress = 0x1F;
}  // namespace AntResponse

// Channel event codes (third data byte of a channel event).
namespace AntEvent {
inline constexpr std::uint8_t kRxSearchTimeout = 0x01;
inline constexpr std::uint8_t kRxFail = 0x02;
inline constexpr std::uint8_t kTransferRxFailed = 0x04;
inline constexpr std::uint8_t kTransferTxCompleted = 0x05;
inline constexpr std::uint8_t kTransferTxFailed = 0x06;
inline constexpr std::uint8_t kChannelClosed = 0x07;
}  // namespace AntEvent

// Start-up message cause bit: the module restarted because it was told to.
inline constexpr std::uint8_t kAntStartupCommandReset = 0x20;

}  // namespace Pellux
