// The "Pellux" service as the real program builds it (registry settings, the whole uploader,
// the service pipe, the real switches), with two differences: its base station is a virtual one
// on a virtual bus inside the process instead of the bridge library's, and, run by the service
// manager, it has a seam for the recovery tests: setting the event kHangEventName hangs the
// station's module and moves the service's clock on past the watchdog's idle limit, as ten
// minutes of a silent base station would. For the whole-service tests under Wine's service
// manager; the shipped program has neither.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "service/pellux_program_win.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "tests/service/px_service_host_seam_win.h"

namespace {

// The system's clock with a lead that the seam can grow: the engine's "now" jumps forward,
// while sleeps and timers keep real time.
class LeadingClock final : public Pellux::Clock {
 public:
  [[nodiscard]] std::chrono::system_clock::time_point Now() const override {
    return Pellux::SystemClock::Instance().Now() + std::chrono::milliseconds(lead_.load());
  }
  void Sleep(std::chrono::milliseconds duration) override {
    Pellux::SystemClock::Instance().Sleep(duration);
  }
  std::unique_ptr<Pellux::OneShotTimer> CreateTimer(
      boost::asio::any_io_executor executor) override {
    return Pellux::SystemClock::Instance().CreateTimer(std::move(executor));
  }
  void Lead(std::chrono::milliseconds more) { lead_ += more.count(); }

 private:
  std::atomic<std::int64_t> lead_{0};
};

// Waits for the test's event, then hangs the module; once what was on its way has arrived,
// the clock jumps. The next watchdog round (every 15 s) then finds the radio silent for longer
// than its limit. The thread only waits until then, and the process ends it.
void ArmHangSeam(Pellux::VirtualBaseStation& station, LeadingClock& clock) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, Pellux::kHangEventName);
  if (event == nullptr) return;
  std::thread([event, &station, &clock] {
    if (WaitForSingleObject(event, INFINITE) != WAIT_OBJECT_0) return;
    station.Faults().SetModuleHung(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    clock.Lead(Pellux::kHangLead);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  LeadingClock clock;
  Pellux::VirtualBaseStation station(Pellux::SystemClock::Instance());
  Pellux::VirtualDeviceBus bus;
  bus.Attach(station, 0x10C4, 0x84C4);
  // Only the service itself (no switch) listens; the switch runs come and go.
  if (argc == 1) ArmHangSeam(station, clock);
  return Pellux::RunPelluxProgram(bus, std::vector<std::string>(argv, argv + argc), clock);
}
