#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/fault_plan.h"
#include "sim/tracker_answer.h"
#include "sim/virtual_base_station.h"

namespace Pellux {

// One scripted fault of pellux-sim, as FaultPlan takes it.
struct SimFault {
  enum class Kind {
    Refuse,         // RefuseCommand(messageId, code, count)
    Lose,           // LoseUnits(direction, count)
    Duplicate,      // DuplicateUnits(direction, count)
    Corrupt,        // CorruptNextBurst(direction, corruption)
    FailTransfers,  // FailTransfers(count)
    Silent,         // SetTrackerSilent(true)
    OutOfRange,     // SetTrackerInRange(false)
    SearchTimeout,  // ForceSearchTimeout()
    BeaconHostId,   // SetBeaconHostId(value)
  };
  Kind kind = Kind::Silent;
  Direction direction = Direction::ToTracker;
  BurstCorruption corruption = BurstCorruption::Checksum;
  std::uint8_t messageId = 0;
  std::uint8_t code = 0;
  int count = 1;
  std::uint32_t value = 0;

  bool operator==(const SimFault&) const = default;
  // Scripts this fault into `plan`.
  void ApplyTo(FaultPlan& plan) const;
};

// What pellux-sim runs: the virtual base station and tracker with their answers and faults, or,
// for measurements, a plain stream of ANT frames at a given rate.
struct SimOptions {
  BaseStationOptions station;
  // Command header prefix and the tracker's answer to it, in the order given.
  std::vector<std::pair<std::vector<std::uint8_t>, TrackerAnswer>> answers;
  std::optional<TrackerAnswer> defaultAnswer;
  std::vector<SimFault> faults;
  // Closes the pseudo-terminal this long after the start, as a pulled plug.
  std::optional<std::chrono::milliseconds> unplugAfter;
  // Stream mode: bytes per second of realistic frames, sent for `streamFor` once the host has
  // written its first byte; then a line "sent F frames B bytes dropped D" on standard output,
  // and the pseudo-terminal is closed when the host writes again (or after five seconds).
  std::optional<std::uint32_t> streamRate;
  std::chrono::milliseconds streamFor{60000};
};

struct SimArguments {
  SimOptions options;
  bool wantsHelp = false;
  // Empty when the arguments were understood; else what was wrong, naming the argument.
  std::string error;
};

// Reads pellux-sim's arguments. "--file PATH" reads more of them from a file: one option a line,
// its value after a space, the leading "--" optional, blank lines and lines starting with '#'
// skipped (a file may not name another file).
SimArguments ParseSimArguments(const std::vector<std::string>& given);

inline constexpr const char* kSimUsage =
    "usage: pellux-sim [OPTION]...\n"
    "Runs a virtual ANT base station with a virtual tracker behind a pseudo-terminal and prints\n"
    "the terminal's path on its first line. Point the uploader's \"SerialPort\" setting at it.\n"
    "Stops on SIGTERM or SIGINT.\n"
    "\n"
    "  --answer PREFIX=ANSWER   how the tracker answers commands whose header starts with the\n"
    "                           hex bytes PREFIX (or 'default'): status:CODE[:DATA],\n"
    "                           download:SIZE[:SEED], upload:REQUEST[:TOTAL[:CODE]]\n"
    "  --fault FAULT            refuse:MSGID:CODE[:TIMES], lose:DIR:COUNT, duplicate:DIR:COUNT,\n"
    "                           corrupt:DIR:checksum|size, fail-transfers:COUNT, silent,\n"
    "                           out-of-range, search-timeout, beacon-host-id:ID\n"
    "                           (DIR is to-tracker or to-host; numbers decimal or 0x hex)\n"
    "  --unplug-after MS        close the terminal after MS milliseconds, as a pulled plug\n"
    "  --serial N               the base station's serial number\n"
    "  --tracker-serial N       the tracker's serial number\n"
    "  --stream BYTES_PER_S     no station: once the host writes a byte, send a stream of ANT\n"
    "                           frames at this rate, then close the terminal\n"
    "  --duration MS            how long the stream runs (default 60000)\n"
    "  --file PATH              more options from a file, one a line\n"
    "  --help                   this text\n";

// Bytes 0, 1, ... of a download of `size` bytes: (i * 7 + seed) % 251, as the demo's tracker.
std::vector<std::uint8_t> SimDownloadBytes(std::size_t size, std::uint8_t seed);

}  // namespace Pellux
