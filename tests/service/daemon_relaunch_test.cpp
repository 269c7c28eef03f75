// The daemon's recovery from a silent base station: its engine's watchdog, in virtual time,
// relaunches through systemd by starting the rebooter's template unit on a mocked manager.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "rebooter/rebooter_instance_linux.h"
#include "service/daemon_relauncher_linux.h"
#include "service/linux_daemon_linux.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/eventually.h"
#include "tests/support/mocked_system_bus_linux.h"
#include "tests/support/recorded_debug_output.h"
#include "tests/support/waited_texts.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(DaemonRelaunchTest, TheWatchdogStartsTheRebootersUnitForThisProcessAndStation) {
  struct StopSignalsBlocked {
    StopSignalsBlocked() { LinuxDaemon::BlockStopSignals(); }
  } blocked;
  MockedSystemBus system("relaunch", "systemd", "org.freedesktop.systemd1");
  ASSERT_TRUE(system.Ready());
  const std::string unit = RebooterUnitName(0x10C4, 0x84C4, getpid());
  // dbusmock's units take no '@' (its object paths would not be valid): the manager takes any
  // start here, and its call log tells which.
  ASSERT_GE(sd_bus_call_method(system.Bus(), "org.freedesktop.systemd1",
                               "/org/freedesktop/systemd1", kMock, "AddMethod", nullptr, nullptr,
                               "sssss", "org.freedesktop.systemd1.Manager", "StartUnit", "ss", "o",
                               "ret = '/org/freedesktop/systemd1/job/1'"),
            0);

  char pattern[] = "/tmp/pellux-relaunch-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  Messages lines;
  MemorySettingsStore store;
  VirtualClock clock;
  VirtualBaseStation station{clock};
  VirtualDeviceBus bus;
  auto daemon = std::make_unique<LinuxDaemon>(LinuxDaemon::Pieces{
      .settings = store,
      .devices = bus,
      .clock = clock,
      .socketPath = folder + "/service.sock",
      .programFolder = PELLUX_SOURCE_DIR,
      .output = std::make_unique<RecordedDebugOutput>(lines, /*withLevel=*/true),
      .logFolder = nullptr,
      .statusInterval = 100ms,
      .relauncher = DaemonRelauncher(true, getpid())});
  std::thread runner([&] { daemon->Run(); });
  // Stops and joins the daemon whichever way the test ends.
  struct Joined {
    std::unique_ptr<LinuxDaemon>& daemon;
    std::thread& runner;
    ~Joined() {
      daemon->Stop();
      runner.join();
    }
  } joined{daemon, runner};
  const auto logged = [&](const std::string& line) {
    const auto all = lines.All();
    return std::find(all.begin(), all.end(), line) != all.end();
  };

  bus.Attach(station, 0x10C4, 0x84C4);
  daemon->Apply({{}, HostEventOutcome::Action{"basestationconnect", "1"}});
  ASSERT_TRUE(Eventually([&] { return logged("5 Channel opened."); }))
      << ::testing::PrintToString(lines.All());
  // A start-up message with a wrong checksum ends the message pump: the station falls silent.
  station.InjectBytes({0xA4, 0x01, 0x6F, 0x20, 0x00});
  ASSERT_TRUE(Eventually([&] { return logged("5 Exiting ANT thread gracefully..."); }))
      << ::testing::PrintToString(lines.All());
  EXPECT_EQ(system.Calls().find("StartUnit"), std::string::npos);

  for (int step = 0; step < 50 && !logged("6 Relaunching application:  " + unit); ++step) {
    clock.Advance(15s);
  }
  EXPECT_TRUE(logged("6 Relaunching application:  " + unit))
      << ::testing::PrintToString(lines.All());
  ASSERT_TRUE(Eventually([&] {
    return system.Calls().find("StartUnit \"" + unit + "\" \"replace\"") != std::string::npos;
  })) << system.Calls();
  const auto all = lines.All();
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const std::string& line) {
    return line.find("[WATCHDOG] Communication manager has been idle for") != std::string::npos;
  }));
  EXPECT_EQ(std::count_if(
                all.begin(), all.end(),
                [](const std::string& line) { return line.find("failed: ") != std::string::npos; }),
            0)
      << ::testing::PrintToString(all);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Pellux
