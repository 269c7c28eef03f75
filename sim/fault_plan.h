#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace Pellux {

// Which way an acknowledged unit or a burst goes.
enum class Direction {
  ToTracker,  // written by the host, delivered by the module over the air
  ToHost,     // sent by the tracker, reported by the module to the host
};

// What goes wrong in a corrupted burst carrying a data packet.
enum class BurstCorruption {
  Checksum,  // the checksum byte of the data packet no longer matches its payload
  Size,      // the data packet announces 8 bytes more than the burst carries
};

// The faults a test has scripted for the virtual base station. Each counter is used up by the
// events it hits; the flags hold until changed. Thread-safe: a test scripts it while the
// station's event loop consumes it.
class FaultPlan {
 public:
  FaultPlan() = default;
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  // --- Scripting (test thread) ---

  // The next `times` commands with id `messageId` are answered with `code` instead of being
  // carried out. Applies to every message the module answers with a channel response
  // (configuration, open, close, acknowledged data), not to a system reset or burst blocks.
  void RefuseCommand(std::uint8_t messageId, std::uint8_t code, int times = 1);
  // The next `count` acknowledged units going `direction` are lost on the air. To the tracker:
  // it never sees them and the module reports the transfer failed (0x06). To the host: the
  // module reports a receive failure (0x02) instead, and the tracker moves on to its next unit.
  void LoseUnits(Direction direction, int count);
  // The next `count` acknowledged units going `direction` arrive twice. To the tracker: it gets
  // the unit but its acknowledgement is lost, so the module reports the transfer failed and
  // the host's retry brings the same unit again. To the host: the module reports the unit in
  // two consecutive message periods.
  void DuplicateUnits(Direction direction, int count);
  // The next burst going `direction` that carries a data packet is corrupted.
  void CorruptNextBurst(Direction direction, BurstCorruption corruption);
  // The next `count` transfers from the host (acknowledged or burst) fail with event 0x06
  // without reaching the tracker.
  void FailTransfers(int count);
  // A silent tracker neither beacons nor answers, nor acknowledges anything sent to it.
  void SetTrackerSilent(bool silent);
  // A tracker out of range is unheard, and nothing reaches it.
  void SetTrackerInRange(bool inRange);
  // The next message period of an open channel ends its search with event 0x01, and the
  // channel closes (0x07), as a module does when its search time-out runs out.
  void ForceSearchTimeout();
  // The tracker's beacon on the session channel carries `hostId` instead of the host ID it was
  // linked with; nullopt restores the real one.
  void SetBeaconHostId(std::optional<std::uint32_t> hostId);

  // A hung module takes every byte the host writes and sends nothing back: no responses, no
  // channel events, no tracker messages. The USB link itself stays up (no error is reported),
  // so only the engine's watchdog notices; a station that is opened afresh (a new process) is
  // not hung.
  void SetModuleHung(bool hung);

  // Every transfer from the host is reported sent (0x05) as soon as its last byte is written,
  // and never reaches the tracker: for tests that play the tracker's side by hand.
  void SetTransfersSwallowed(bool swallowed);

  // --- Consumption (the station, under its own lock) ---

  std::optional<std::uint8_t> TakeRefusal(std::uint8_t messageId);
  bool TakeLoss(Direction direction);
  bool TakeDuplicate(Direction direction);
  std::optional<BurstCorruption> TakeBurstCorruption(Direction direction);
  bool TakeFailedTransfer();
  bool TakeSearchTimeout();
  [[nodiscard]] bool TrackerSilent() const;
  [[nodiscard]] bool ModuleHung() const;
  [[nodiscard]] bool TrackerInRange() const;
  [[nodiscard]] std::optional<std::uint32_t> BeaconHostId() const;
  [[nodiscard]] bool TransfersSwallowed() const;

 private:
  struct Refusal {
    std::uint8_t code = 0;
    int times = 0;
  };

  static std::size_t Index(Direction direction) {
    return direction == Direction::ToTracker ? 0 : 1;
  }
  // Decrements `counter` if it is above 0; true when it was.
  static bool Take(int& counter);

  mutable std::mutex mutex_;
  std::map<std::uint8_t, Refusal> refusals_;
  std::array<int, 2> losses_{};
  std::array<int, 2> duplicates_{};
  std::array<std::optional<BurstCorruption>, 2> corruptions_{};
  int failedTransfers_ = 0;
  bool silent_ = false;
  bool hung_ = false;
  bool inRange_ = true;
  bool searchTimeout_ = false;
  bool swallowed_ = false;
  std::optional<std::uint32_t> beaconHostId_;
};

}  // namespace Pellux
