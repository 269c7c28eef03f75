// The Linux read path under load and at rest: pellux-sim streams realistic ANT frames into a
// pseudo-terminal; DSISerialTTY reads them and the ANT framer decodes them, while a pump drains
// the framer and checks every frame's number. Reported (never asserted): bytes lost (must be 0),
// frames decoded, CPU time of the receive thread (poll, read, framing) per second of stream;
// and the transport's wake-ups per second with no traffic at all.
//
// PELLUX_BENCH_SECONDS sets the length of each stream (default 60, as the issue asks).

#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "device/dsi_framer_ant.h"
#include "device/dsi_serial_tty_linux.h"
#include "sim/frame_stream.h"
#include "tests/device/pty_pair.h"
#include "tests/support/sim_process.h"

namespace Pellux {
namespace {

constexpr double kLineBytesPerSecond = 50000.0 / 10.0;

int StreamSeconds() {
  const char* text = std::getenv("PELLUX_BENCH_SECONDS");
  const int seconds = text == nullptr ? 60 : std::atoi(text);
  return seconds > 0 ? seconds : 60;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Between the transport and the framer: counts the bytes and the receive thread's CPU time
// from the first byte to the hang-up that ends the stream.
class Meter final : public DSISerialCallback {
 public:
  explicit Meter(DSIFramerANT& framer) : framer_(framer) {}
  void ProcessByte(std::uint8_t byte) override {
    if (bytes_.load(std::memory_order_relaxed) == 0) cpuAtFirst_ = ThreadCpuSeconds();
    bytes_.fetch_add(1, std::memory_order_relaxed);
    framer_.ProcessByte(byte);
  }
  void Error(std::uint8_t code) override {
    if (code != kDeviceUnreadable || gone_.load()) return;
    cpuAtEnd_ = ThreadCpuSeconds();
    gone_.store(true);
  }
  [[nodiscard]] bool Gone() const { return gone_.load(); }
  [[nodiscard]] std::uint64_t Bytes() const { return bytes_.load(); }
  // Valid once Gone().
  [[nodiscard]] double CpuSeconds() const { return cpuAtEnd_ - cpuAtFirst_; }

 private:
  DSIFramerANT& framer_;
  std::atomic<std::uint64_t> bytes_{0};
  std::atomic<bool> gone_{false};
  double cpuAtFirst_ = 0;
  double cpuAtEnd_ = 0;
};

void Drain(benchmark::State& state, double timesLineRate) {
  const int seconds = StreamSeconds();
  const auto rate = static_cast<unsigned>(kLineBytesPerSecond * timesLineRate);
  for (auto _ : state) {
    SimProcess sim({PELLUX_SIM_PATH, "--stream", std::to_string(rate), "--duration",
                    std::to_string(seconds * 1000)});
    const auto path = sim.ReadLine(std::chrono::seconds(10));
    if (!path) {
      state.SkipWithError("pellux-sim did not start");
      return;
    }
    UsbSerialPort port;
    port.node = *path;
    DSISerialTTY transport([port] { return std::vector<UsbSerialPort>{port}; }, {});
    DSIFramerANT framer(&transport);
    framer.Init();
    Meter meter(framer);
    transport.SetCallback(&meter);
    if (!transport.Init(50000, 0) || !transport.Open()) {
      state.SkipWithError("the terminal did not open");
      return;
    }
    const std::uint8_t go = 0;
    transport.WriteBytes(&go, 1);
    // The stream's end: pellux-sim says how much it sent, and waits with the plug until the
    // host has it all (or five seconds).
    unsigned frames = 0;
    unsigned long long sent = 0;
    unsigned long long dropped = 0;
    bool summarised = false;
    std::thread ender([&] {
      const auto summary = sim.ReadLine(std::chrono::seconds(seconds + 60));
      summarised =
          summary && std::sscanf(summary->c_str(), "sent %u frames %llu bytes dropped %llu",
                                 &frames, &sent, &dropped) == 3;
      for (int i = 0; i < 500 && summarised && meter.Bytes() < sent; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      transport.WriteBytes(&go, 1);
    });

    std::uint32_t decoded = 0;
    std::uint32_t wrong = 0;
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
      const std::uint16_t ready = framer.WaitForMessage(100);
      if (ready == DSIFramer::kTimedOut) {
        if (meter.Gone() && framer.PendingForPump() == 0) break;
        continue;
      }
      AntMessage message;
      const std::uint16_t length = framer.GetMessage(message, 0);
      if (length == DSIFramer::kFramerError) {
        ++wrong;
        continue;
      }
      if (length == DSIFramer::kTimedOut) continue;
      if (!FrameStream::Matches(decoded, message.id,
                                std::span<const std::uint8_t>(message.data.data(), length))) {
        ++wrong;
      }
      ++decoded;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    state.SetIterationTime(elapsed);

    ender.join();
    transport.Close(false);
    if (!summarised) {
      state.SkipWithError("pellux-sim gave no summary");
      return;
    }
    state.counters["bytes_sent"] = static_cast<double>(sent);
    state.counters["bytes_lost"] = static_cast<double>(sent) - static_cast<double>(meter.Bytes());
    state.counters["frames_sent"] = frames;
    state.counters["frames_decoded"] = decoded;
    state.counters["frames_wrong"] = wrong;
    state.counters["sim_dropped"] = static_cast<double>(dropped);
    state.counters["read_cpu_ms_per_s"] = 1000.0 * meter.CpuSeconds() / seconds;
    state.counters["bytes_per_s"] = static_cast<double>(meter.Bytes()) / seconds;
  }
}

void BM_DrainAtLineRate(benchmark::State& state) {
  Drain(state, 1.0);
}
void BM_DrainAt100TimesLineRate(benchmark::State& state) {
  Drain(state, 100.0);
}

// The voluntary and involuntary context switches of this process's thread named `name`.
long Switches(const std::string& name) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream comm(task.path() / "comm");
    std::string threadName;
    std::getline(comm, threadName);
    if (threadName != name) continue;
    std::ifstream status(task.path() / "status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") == std::string::npos) continue;
      total += std::atol(line.substr(line.find(':') + 1).c_str());
    }
    return total;
  }
  return -1;
}

void BM_IdleWakeUps(benchmark::State& state) {
  const int seconds = std::min(StreamSeconds(), 10);
  for (auto _ : state) {
    PtyPair pty;
    UsbSerialPort port;
    port.node = pty.SlavePath();
    DSISerialTTY transport([port] { return std::vector<UsbSerialPort>{port}; }, {});
    DSIFramerANT framer(&transport);
    framer.Init();
    transport.SetCallback(&framer);
    if (!transport.Init(50000, 0) || !transport.Open()) {
      state.SkipWithError("the terminal did not open");
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const long before = Switches("pellux-tty-read");
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long after = Switches("pellux-tty-read");
    state.SetIterationTime(seconds);
    transport.Close(false);
    state.counters["wakeups_per_s"] = static_cast<double>(after - before) / seconds;
  }
}

BENCHMARK(BM_DrainAtLineRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_DrainAt100TimesLineRate)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_IdleWakeUps)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace Pellux

BENCHMARK_MAIN();
