#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace Pellux {

// One channel of the virtual ANT module: what the host configured, where the radio stands and
// the host's transfer waiting for the next message period. Plain data kept by the module.
struct AntChannel {
  enum class State { Unassigned, Assigned, Open };
  enum class Transfer {
    None,
    Assembling,  // burst blocks are coming in
    Ready,       // an acknowledged unit or a whole burst waits for the next period
    Failed,      // the burst broke; the next period reports the failure
  };
  using TimePoint = std::chrono::system_clock::time_point;

  // What the module starts with after a reset.
  static constexpr std::uint16_t kDefaultPeriod = 8192;      // 4 messages per second
  static constexpr std::uint8_t kDefaultFrequency = 66;      // 2466 MHz
  static constexpr std::uint8_t kDefaultSearchTimeout = 12;  // 30 seconds
  // A search time-out of this value never runs out.
  static constexpr std::uint8_t kInfiniteSearch = 255;
  static constexpr std::chrono::milliseconds kSearchTimeoutUnit{2500};

  State state = State::Unassigned;
  std::uint8_t type = 0;
  std::uint8_t network = 0;
  std::uint16_t period = kDefaultPeriod;
  std::uint8_t frequency = kDefaultFrequency;
  std::uint8_t searchTimeout = kDefaultSearchTimeout;
  std::uint16_t deviceNumber = 0;
  std::uint8_t deviceType = 0;
  std::uint8_t transmissionType = 0;

  // Radio. Every change of state or period starts a new epoch, so that a message period timed
  // for the old one is dropped.
  std::uint64_t epoch = 0;
  TimePoint epochStart{};
  std::uint64_t slotsInEpoch = 0;
  bool tracking = false;  // the tracker was heard and has not been lost since
  int missedSlots = 0;
  TimePoint searchStart{};

  // The host's transfer.
  Transfer transfer = Transfer::None;
  bool acknowledged = false;  // a single acknowledged unit rather than a burst
  std::vector<std::uint8_t> image;
  std::uint8_t lastBurstSequence = 0;
};

}  // namespace Pellux
