// The daemon's host events from udev at the daemon's level, in umockdev's fake sysfs and udev
// (run under umockdev-wrapper): a base station plugged in is announced with the daemon's
// "[DEVICE EVENT]" lines and opened, another device leaves lines only, and the station taken out
// is let go. Without a system bus the daemon says it has no sleep and wake events, and runs on.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "service/daemon_event_sources_linux.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/eventually.h"
#include "tests/support/fake_usb_world_linux.h"
#include "tests/support/notify_socket_linux.h"
#include "tests/support/recorded_debug_output.h"
#include "tests/support/waited_texts.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(DaemonHotplugTest, StationsThatComeAndGoAreAnnouncedOpenedAndLetGo) {
  ASSERT_TRUE(FakeUsbWorld().Ready());
  LinuxDaemon::BlockStopSignals();
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pellux-no-bus", 1);
  unsetenv("WATCHDOG_USEC");
  NotifySocket notify;
  Messages lines;
  char pattern[] = "/tmp/pellux-hotplug-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  MemorySettingsStore store;
  VirtualBaseStation station{SystemClock::Instance()};
  VirtualDeviceBus bus;
  FakeUsbWorld world;
  LinuxDaemon daemon({.settings = store,
                      .devices = bus,
                      .clock = SystemClock::Instance(),
                      .socketPath = folder + "/service.sock",
                      .programFolder = PELLUX_SOURCE_DIR,
                      .output = std::make_unique<RecordedDebugOutput>(lines),
                      .logFolder = nullptr,
                      .statusInterval = 100ms,
                      .relauncher = {}});
  DaemonEventSources events(daemon, [&daemon](int level, const std::string& line) {
    daemon.Interface().Log(line, level, kNoContext);
  });
  events.Start();
  int exitCode = -1;
  std::thread runner([&] { exitCode = daemon.Run(); });
  const auto logged = [&lines](const std::string& line) {
    return Eventually([&] {
      const auto all = lines.All();
      return std::find(all.begin(), all.end(), line) != all.end();
    });
  };
  ASSERT_TRUE(Eventually([&] { return notify.Count("READY=1") == 1; }));
  EXPECT_TRUE(Eventually([&] {
    const auto all = lines.All();
    return std::any_of(all.begin(), all.end(), [](const std::string& line) {
      return line.rfind("No sleep and wake events: ", 0) == 0;
    });
  }));

  // Another device: its lines, and the daemon goes on waiting.
  world.AddStick("usb2", "2-1", "ttyUSB1",
                 {.vendor = "0fcf",
                  .product = "1008",
                  .serialAttribute = "77",
                  .productText = "ANT USB-m Stick",
                  .serialProperty = "77"});
  EXPECT_TRUE(logged("[DEVICE EVENT] add /dev/ttyUSB1"));
  EXPECT_TRUE(logged("Device info: USB 0fcf:1008 serial '77' product 'ANT USB-m Stick'"));

  // The base station: announced, and opened from the daemon's devices.
  bus.Attach(station, 0x10C4, 0x84C4);
  const FakeUsbWorld::Stick stick = world.AddStick("usb1", "1-1", "ttyUSB0");
  EXPECT_TRUE(logged("[DEVICE EVENT] add /dev/ttyUSB0"));
  EXPECT_TRUE(logged("Device info: USB 10c4:84c4 serial '4021337' product 'ANT USB Stick'"));
  EXPECT_TRUE(Eventually([&] { return notify.Count("STATUS=Searching for trackers") >= 1; }))
      << ::testing::PrintToString(notify.received.All());
  EXPECT_EQ(notify.Count("STATUS=Waiting for a base station"), 1u)
      << "the other device changed nothing";

  // Taken out: let go, and waiting again.
  station.Unplug(0);
  world.Unplug(stick);
  EXPECT_TRUE(logged("[DEVICE EVENT] remove /dev/ttyUSB0"));
  EXPECT_TRUE(Eventually([&] { return notify.Count("STATUS=Waiting for a base station") == 2; }))
      << ::testing::PrintToString(notify.received.All());

  daemon.Stop();
  runner.join();
  events.Stop();
  EXPECT_EQ(exitCode, 0);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Pellux
