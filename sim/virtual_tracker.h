#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "link/packet.h"
#include "sim/tracker_answer.h"

namespace Pellux {

// How the virtual tracker shows itself on the air.
struct TrackerOptions {
  // Carried in bytes 4-7 of every beacon.
  std::uint32_t serialNumber = 3900017;
  // Device number of its beacon until a host links it (0xFFFE for the special beacon).
  std::uint16_t searchDeviceNumber = 0xFFFF;
  std::uint8_t deviceType = 1;
  std::uint8_t transmissionType = 1;
  std::uint8_t frequency = 2;
  std::array<std::uint8_t, 8> networkKey{};
  // A linked tracker that hears nothing from its host for this long returns to its search
  // beacon, so that a host which lost it can find it again.
  std::chrono::milliseconds sessionIdleTimeout{30000};
};

enum class TrackerLinkState {
  Searching,  // beaconing on its search device number
  Linked,     // beaconing on the session device number with the host ID
  Asleep,     // quiet until its wake time
};

// A command as the tracker got it, with the payload it fetched for it.
struct ReceivedCommand {
  PacketHeader header{};
  std::vector<std::uint8_t> payload;

  bool operator==(const ReceivedCommand&) const = default;
};

// What a test can see of the tracker.
struct TrackerSnapshot {
  TrackerLinkState state = TrackerLinkState::Searching;
  // From the last LINK received.
  std::uint16_t sessionDeviceNumber = 0;
  std::uint32_t hostId = 0;
  std::vector<ReceivedCommand> commands;
  // Every packet image accepted from the host, in order (duplicates not included).
  std::vector<std::vector<std::uint8_t>> received;
  std::size_t duplicatesIgnored = 0;
  // Uploads ended because a data packet's size, checksum or request number was wrong.
  std::size_t dataErrors = 0;
  // From the last UNLINK: its sleep in units of 15 seconds, and when the tracker wakes.
  std::uint8_t sleepUnits = 0;
  std::chrono::system_clock::time_point wakeTime{};
};

// The tracker behind the base station: link control, commands and their data transfers, as
// seen from the wrist. It knows nothing of ANT messages or threads: the module hands it what
// reached it over the air and asks it what to send in each message period. Not thread-safe.
class VirtualTracker {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  static constexpr std::chrono::seconds kSleepUnit{15};

  explicit VirtualTracker(TrackerOptions options = {});

  // --- Scripting ---

  // Commands whose header begins with `commandPrefix` are answered with `answer`; the longest
  // matching prefix wins.
  void SetAnswer(std::vector<std::uint8_t> commandPrefix, TrackerAnswer answer);
  // The answer to a command no prefix matches (at first: a status with kUnknownCommand).
  void SetDefaultAnswer(TrackerAnswer answer);

  // --- The air, driven by the module ---

  // Lets time pass: the end of a sleep, or of a session whose host went quiet.
  void Update(TimePoint now);
  // False while asleep.
  [[nodiscard]] bool IsTransmitting() const { return state_ != TrackerLinkState::Asleep; }
  [[nodiscard]] bool IsLinked() const { return state_ == TrackerLinkState::Linked; }
  // The device number its channel uses now.
  [[nodiscard]] std::uint16_t DeviceNumber() const;
  [[nodiscard]] const TrackerOptions& Options() const { return options_; }
  // Bytes 0-3: the host ID it is linked to (0 when none), little-endian; bytes 4-7: its
  // serial number.
  [[nodiscard]] std::array<std::uint8_t, 8> Beacon() const;
  [[nodiscard]] bool HasOutgoing() const { return !outgoing_.empty(); }
  // The next packet image it sends: 8 bytes for an acknowledged unit, a longer multiple of 8
  // for a burst.
  std::vector<std::uint8_t> TakeOutgoing();
  // A packet image from the host that reached it: the transport byte, the packet header and
  // any payload, padded to a multiple of 8.
  void Receive(std::span<const std::uint8_t> image, TimePoint now);

  [[nodiscard]] TrackerSnapshot Snapshot() const;

 private:
  enum class TransferMode { None, Download, Upload };
  struct Transfer {
    TransferMode mode = TransferMode::None;
    TrackerAnswer answer;
    std::size_t offset = 0;     // Download: bytes handed out so far
    std::size_t collected = 0;  // Upload: bytes received so far
    std::uint16_t requestNumber = 0;
  };

  void HandleControl(const PacketHeader& header, TimePoint now);
  void HandleCommand(const PacketHeader& header);
  void HandleDataRequest(const PacketHeader& header);
  void HandleData(const PacketHeader& header, std::span<const std::uint8_t> payload);
  void EndSession(TrackerLinkState next);
  [[nodiscard]] const TrackerAnswer& FindAnswer(const PacketHeader& header) const;

  void Send(const Packet& packet);
  void SendStatus(std::uint8_t code, std::uint32_t statusData);
  void SendDataRequest(std::uint16_t requestedSize);

  TrackerOptions options_;
  std::map<std::vector<std::uint8_t>, TrackerAnswer> answers_;
  TrackerAnswer defaultAnswer_;

  TrackerLinkState state_ = TrackerLinkState::Searching;
  std::uint16_t sessionDeviceNumber_ = 0;
  std::uint32_t hostId_ = 0;
  TimePoint lastHeard_{};
  std::uint8_t sleepUnits_ = 0;
  TimePoint wakeTime_{};

  int transmitSequence_ = 0;
  std::uint16_t requestCounter_ = 0;
  std::deque<std::vector<std::uint8_t>> outgoing_;
  // The last image accepted, to tell a resent unit from a new one.
  std::optional<std::vector<std::uint8_t>> lastAccepted_;
  Transfer transfer_;

  std::vector<ReceivedCommand> commands_;
  std::vector<std::vector<std::uint8_t>> received_;
  std::size_t duplicatesIgnored_ = 0;
  std::size_t dataErrors_ = 0;
};

}  // namespace Pellux
