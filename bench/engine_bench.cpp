// Whole exchanges through the engine: an instruction from an instant server goes in, the
// tracker behind a virtual base station (whose time costs nothing) runs its operations, and the
// results come out as the next request. What is measured is the engine, the radio side, the
// framer and the simulator's threads handing messages to one another.

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "link/ant_radio.h"
#include "server/base64.h"
#include "session/communication_manager.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_device_bus.h"

namespace Pellux {
namespace {

// A user interface that keeps only what the benchmark reads: the latest request.
class BenchUserInterface final : public UserInterface {
 public:
  BenchUserInterface() : UserInterface(store) {}

  bool ShowErrorList(int, const std::vector<std::string>&, Context) override { return true; }
  bool DisplayHtml(const std::string&, Context, int, int) override { return true; }
  void SendRequest(NetworkRequest request, Context context) override {
    std::lock_guard guard(mutex);
    latest = std::move(request);
    latestContext = context;
    ++requests;
  }
  void Log(const std::string&, int, Context) override {}
  bool Relaunch(std::uint16_t, std::uint16_t) override { return true; }
  std::string GetOsDescription() override { return "Bench OS"; }
  std::string GetClientId() override { return "bench"; }
  std::string GetLocale(Context) override { return "en_US"; }

  std::size_t Requests() {
    std::lock_guard guard(mutex);
    return requests;
  }
  std::pair<NetworkRequest, Context> Latest() {
    std::lock_guard guard(mutex);
    return {latest, latestContext};
  }

  MemorySettingsStore store;

 private:
  std::mutex mutex;
  NetworkRequest latest;
  Context latestContext = kNoContext;
  std::size_t requests = 0;
};

// Peak resident memory of the process so far, in kilobytes.
double PeakResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6));
  }
  return 0;
}

class Harness {
 public:
  static constexpr std::chrono::milliseconds kPeriod{125};

  Harness() {
    bus.Attach(station, 0x10C4, 0x84C4);
    AntRadio::Timing timing;
    timing.responseWait = std::chrono::milliseconds(200);
    manager = std::make_unique<CommunicationManager>(
        &ui,
        [&](RadioEvents& events) {
          auto made = std::make_unique<AntRadio>(events, ui, bus, clock, identifiers, timing);
          radio = made.get();
          return made;
        },
        clock);
  }

  ~Harness() { manager.reset(); }

  void Settle() {
    for (;;) {
      const std::size_t before = station.HostMessageCount();
      station.Settle();
      while (!radio->IsPumpIdle()) std::this_thread::sleep_for(std::chrono::microseconds(1));
      if (station.HostMessageCount() == before) return;
    }
  }

  // Runs the radio until the engine has posted `count` requests; false after a minute of
  // virtual time without them.
  bool RunUntil(std::size_t count) {
    for (int step = 0; step < 480 && ui.Requests() < count; ++step) {
      clock.Advance(kPeriod);
      Settle();
    }
    return ui.Requests() >= count;
  }

  void Serve(const std::string& document) {
    const auto [request, context] = ui.Latest();
    manager->ProcessAction(request.requestNumber, "http", document, false, context);
    Settle();
  }

  VirtualClock clock;
  BenchUserInterface ui;
  VirtualBaseStation station{clock};
  VirtualDeviceBus bus;
  LinkIdentifiers identifiers{7};
  // The engine's, while it lives.
  AntRadio* radio = nullptr;
  std::unique_ptr<CommunicationManager> manager;
};

std::string Document(std::size_t downloadSize) {
  const PacketHeader command{0x22, static_cast<std::uint8_t>(downloadSize == 0 ? 1 : 2), 0, 0, 0, 0,
                             0};
  return "<p><response host=\"srv\" port=\"80\" path=\"/next\"/><device action=\"command\">"
         "<remoteOps><remoteOp><opCode>" +
         Base64Encode(command) + "</opCode></remoteOp></remoteOps></device></p>";
}

void Exchanges(benchmark::State& state) {
  const auto downloadSize = static_cast<std::size_t>(state.range(0));
  Harness harness;
  harness.station.WithTracker([&](VirtualTracker& tracker) {
    tracker.SetAnswer({0x22, 0x01}, TrackerAnswer::Status(TrackerAnswer::kSuccess));
    tracker.SetAnswer({0x22, 0x02},
                      TrackerAnswer::Download(std::vector<std::uint8_t>(downloadSize, 0x5A)));
  });
  harness.manager->ProcessAction(0, "init", "standard", false, kNoContext);
  harness.Settle();
  if (!harness.RunUntil(1)) {
    state.SkipWithError("the tracker never linked");
    return;
  }
  const std::string document = Document(downloadSize);
  std::size_t posted = 1;
  for (auto _ : state) {
    harness.Serve(document);
    if (!harness.RunUntil(++posted)) {
      state.SkipWithError("an exchange never finished");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * downloadSize));
  state.counters["exchanges_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["peak_rss_kB"] = PeakResidentKilobytes();
}
BENCHMARK(Exchanges)->Arg(0)->Arg(4096)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace Pellux

BENCHMARK_MAIN();
