// Throughput of the Windows receive path under Wine: bytes from the stand-in bridge library
// (sim/stand_in, its stream mode: a byte pattern served as fast as it is read) through the
// bridge handle's receive thread, its queue, DSISerialSI's read thread and into the ANT framer,
// whose messages a pump thread takes out. Reported, never asserted; `make bench-wine` runs it.
// The base station's line carries 5000 bytes/s (50000 baud, 10 bits a byte).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <thread>
#include <vector>

#include "device/ant_message.h"
#include "device/dsi_framer_ant.h"
#include "device/dsi_serial_si_win.h"
#include "tests/support/stand_in_bridge_win.h"

namespace {

using namespace Pellux;

constexpr double kLineBytesPerSecond = 50000.0 / 10.0;

void AppendFrame(std::vector<std::uint8_t>& stream, std::uint8_t id,
                 std::initializer_list<std::uint8_t> data) {
  const std::size_t start = stream.size();
  stream.push_back(kAntSync);
  stream.push_back(static_cast<std::uint8_t>(data.size()));
  stream.push_back(id);
  stream.insert(stream.end(), data.begin(), data.end());
  std::uint8_t checksum = 0;
  for (std::size_t i = start; i < stream.size(); ++i) checksum ^= stream[i];
  stream.push_back(checksum);
}

// As in framer_bench: per 20 frames, 14 burst frames, 4 beacons and 2 channel events.
std::vector<std::uint8_t> UploadFrames(std::size_t& messages) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 20; ++i) {
    const auto n = static_cast<std::uint8_t>(i);
    if (i < 14) {
      const auto sequence = static_cast<std::uint8_t>((i & 3) << 5);
      AppendFrame(bytes, AntId::kBurstData, {sequence, 1, n, 0x10, 0xA4, 0x55, 0, 1, 2});
    } else if (i < 18) {
      AppendFrame(bytes, AntId::kBroadcastData, {0x00, 0x38, 0x00, 0x02, 1, n, 0, 0, 0});
    } else {
      AppendFrame(bytes, AntId::kChannelResponse,
                  {0x00, AntId::kEvent, AntEvent::kTransferTxCompleted});
    }
    ++messages;
  }
  return bytes;
}

// Counts bytes: the path without the framer and its pump.
class CountingCallback final : public DSISerialCallback {
 public:
  void ProcessByte(std::uint8_t /*byte*/) override {
    count.fetch_add(1, std::memory_order_relaxed);
  }
  void Error(std::uint8_t /*code*/) override { ++errors; }
  std::atomic<std::uint64_t> count{0};
  std::atomic<std::uint64_t> errors{0};
};

// The bytes alone: stand-in, receive thread, queue, read thread, a counting callback.
void RunWithoutFramer(StandInBridge& bridge, const std::vector<std::uint8_t>& pattern,
                      std::uint64_t repeats) {
  DSISerialSI serial;
  CountingCallback counter;
  serial.SetCallback(&counter);
  if (!serial.Init(DSISerialSI::kAutoInitBaud, 0) || !serial.Open()) return;
  const double bytes = static_cast<double>(pattern.size() * repeats);
  for (int run = 1; run <= 3; ++run) {
    counter.count = 0;
    const auto start = std::chrono::steady_clock::now();
    bridge.Si({{"command", "stream"}, {"device", 0}, {"pattern", pattern}, {"repeat", repeats}});
    StandInBridge::WaitFor([&] { return counter.count.load() >= pattern.size() * repeats; },
                           std::chrono::minutes(5));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("without the framer, run %d: %.3f s, %.0f bytes/s\n", run, seconds,
                bytes / seconds);
  }
  serial.Close(false);
}

}  // namespace

int main() {
  StandInBridge bridge;
  bridge.Attach();
  std::size_t ignored = 0;
  RunWithoutFramer(bridge, UploadFrames(ignored), 5000);
  DSISerialSI serial;
  DSIFramerANT framer(&serial);
  if (!framer.Init()) return 1;
  serial.SetCallback(&framer);
  if (!serial.Init(DSISerialSI::kAutoInitBaud, 0) || !serial.Open()) {
    std::fprintf(stderr, "the stand-in bridge did not open\n");
    return 1;
  }
  std::size_t perPattern = 0;
  const std::vector<std::uint8_t> pattern = UploadFrames(perPattern);
  constexpr std::uint64_t kRepeats = 5000;
  const std::uint64_t messages = perPattern * kRepeats;
  const double bytes = static_cast<double>(pattern.size() * kRepeats);

  std::printf(
      "Windows receive path: stand-in SI_Read -> receive thread -> queue -> read thread "
      "-> DSIFramerANT -> pump\n");
  std::printf("%llu messages, %.0f bytes per run\n", static_cast<unsigned long long>(messages),
              bytes);
  for (int run = 1; run <= 3; ++run) {
    StandInBridge::WaitFor([&] { return bridge.Device(0)["pendingReads"].get<int>() >= run; });
    std::atomic<std::uint64_t> taken{0};
    std::atomic<std::uint64_t> errors{0};
    std::thread pump([&] {
      while (taken.load() + errors.load() < messages) {
        if (framer.WaitForMessage(1000) == DSIFramer::kTimedOut) break;
        AntMessage out;
        if (framer.GetMessage(out, 0) == DSIFramer::kFramerError) {
          ++errors;
        } else {
          ++taken;
        }
      }
    });
    const auto start = std::chrono::steady_clock::now();
    bridge.Si({{"command", "stream"}, {"device", 0}, {"pattern", pattern}, {"repeat", kRepeats}});
    pump.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "run %d: %.3f s, %.0f bytes/s, %.0f messages/s, %.0fx line rate, %llu/%llu "
        "messages, %llu framer errors\n",
        run, seconds, bytes / seconds, static_cast<double>(taken.load()) / seconds,
        bytes / seconds / kLineBytesPerSecond, static_cast<unsigned long long>(taken.load()),
        static_cast<unsigned long long>(messages), static_cast<unsigned long long>(errors.load()));
  }
  serial.Close(false);
  return 0;
}
