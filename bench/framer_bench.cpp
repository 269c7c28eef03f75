// Cost of the ANT framer on the byte stream of an upload, against the base station's line rate
// of 50000 baud (10 bits a byte: 5000 bytes/s). The "x_line_rate" counter says how many times
// faster than the line the framer gets through the stream.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <thread>
#include <vector>

#include "device/ant_message.h"
#include "device/dsi_framer_ant.h"
#include "device/dsi_serial.h"

namespace Pellux {
namespace {

constexpr double kLineBytesPerSecond = 50000.0 / 10.0;
// The USB bridge hands bytes over in packets of up to 64.
constexpr std::size_t kUsbPacket = 64;

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

// What the module sends during an upload, per 20 frames: 14 burst frames of the tracker's
// data, 4 beacons and 2 channel events; 1000 frames in all.
struct Stream {
  std::vector<std::uint8_t> bytes;
  std::size_t messages = 0;
};

Stream RealisticStream() {
  Stream stream;
  for (int block = 0; block < 50; ++block) {
    const auto b = static_cast<std::uint8_t>(block);
    for (int i = 0; i < 20; ++i) {
      const auto n = static_cast<std::uint8_t>(i);
      if (i < 14) {
        const auto sequence = static_cast<std::uint8_t>((i & 3) << 5);
        AppendFrame(stream.bytes, AntId::kBurstData, {sequence, b, n, 0x10, 0xA4, 0x55, 0, 1, 2});
      } else if (i < 18) {
        AppendFrame(stream.bytes, AntId::kBroadcastData, {0x00, 0x38, 0x00, 0x02, b, n, 0, 0, 0});
      } else {
        AppendFrame(stream.bytes, AntId::kChannelResponse,
                    {0x00, AntId::kEvent, AntEvent::kTransferTxCompleted});
      }
      ++stream.messages;
    }
  }
  return stream;
}

void SetCounters(benchmark::State& state, const Stream& stream) {
  const auto iterations = static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(stream.bytes.size()));
  state.counters["messages"] = benchmark::Counter(iterations * static_cast<double>(stream.messages),
                                                  benchmark::Counter::kIsRate);
  state.counters["x_line_rate"] = benchmark::Counter(
      iterations * static_cast<double>(stream.bytes.size()) / kLineBytesPerSecond,
      benchmark::Counter::kIsRate);
}

// One thread does both sides: a USB packet in, then the pump's drain.
void BM_DecodeOnOneThread(benchmark::State& state) {
  const Stream stream = RealisticStream();
  DSIFramerANT framer(nullptr);
  framer.Init();
  std::size_t taken = 0;
  for (auto _ : state) {
    for (std::size_t at = 0; at < stream.bytes.size(); at += kUsbPacket) {
      const std::size_t end = std::min(stream.bytes.size(), at + kUsbPacket);
      for (std::size_t i = at; i < end; ++i) framer.ProcessByte(stream.bytes[i]);
      while (framer.WaitForMessage(0) != DSIFramer::kTimedOut) {
        AntMessage out;
        if (framer.GetMessage(out, 0) == DSIFramer::kFramerError) {
          state.SkipWithError("the realistic stream gave a framer error");
          return;
        }
        benchmark::DoNotOptimize(out);
        ++taken;
      }
    }
  }
  if (taken != stream.messages * state.iterations()) {
    state.SkipWithError("messages were lost");
  }
  SetCounters(state, stream);
}
BENCHMARK(BM_DecodeOnOneThread);

// As in the service: the receive thread feeds, a pump thread waits for messages and takes them.
void BM_DecodeWithPumpThread(benchmark::State& state) {
  const Stream stream = RealisticStream();
  DSIFramerANT framer(nullptr);
  framer.Init();
  std::atomic<std::size_t> taken{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> failed{false};
  std::thread pump([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      const std::uint16_t waited = framer.WaitForMessage(10);
      if (waited == DSIFramer::kTimedOut) continue;
      AntMessage out;
      if (framer.GetMessage(out, 0) == DSIFramer::kFramerError) failed = true;
      benchmark::DoNotOptimize(out);
      taken.fetch_add(1, std::memory_order_release);
    }
  });
  std::size_t expected = 0;
  for (auto _ : state) {
    for (const std::uint8_t byte : stream.bytes) framer.ProcessByte(byte);
    expected += stream.messages;
    // Done once the pump has everything.
    while (taken.load(std::memory_order_acquire) < expected) std::this_thread::yield();
  }
  stop = true;
  pump.join();
  if (failed) state.SkipWithError("the realistic stream gave a framer error");
  SetCounters(state, stream);
}
BENCHMARK(BM_DecodeWithPumpThread)->UseRealTime();

// A transport that takes every byte and does nothing with it.
class NullSerial : public DSISerial {
 public:
  bool AutoInit() override { return true; }
  bool Init(std::uint32_t, std::uint8_t) override { return true; }
  std::uint32_t GetDeviceSerialNumber() override { return 0; }
  bool Open() override { return true; }
  void Close(bool) override {}
  bool WriteBytes(const std::uint8_t* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    written += size;
    return true;
  }
  std::uint8_t GetDeviceNumber() override { return 0; }

  std::size_t written = 0;
};

// The other direction: framing an acknowledged data message for the tracker.
void BM_WriteMessage(benchmark::State& state) {
  NullSerial serial;
  DSIFramerANT framer(&serial);
  AntMessage message;
  message.id = AntId::kAcknowledgedData;
  for (std::size_t i = 0; i < 9; ++i) message.data[i] = static_cast<std::uint8_t>(i * 17);
  for (auto _ : state) {
    if (!framer.WriteMessage(message, 9)) {
      state.SkipWithError("the write failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(serial.written));
  state.counters["messages"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteMessage);

}  // namespace
}  // namespace Pellux

BENCHMARK_MAIN();
