// The daemon's switches and its sleep events over a private system bus: a dbus-daemon of the
// test's own with python-dbusmock playing systemd's manager and logind.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "service/sleep_watcher_linux.h"
#include "service/systemd_units_linux.h"
#include "tests/support/mocked_system_bus_linux.h"
#include "tests/support/waited_texts.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(SystemdUnitsTest, SwitchesReachSystemdsManagerAndItsRefusalIsTold) {
  MockedSystemBus system("units", "systemd", "org.freedesktop.systemd1");
  ASSERT_TRUE(system.Ready());
  sd_bus_error error = SD_BUS_ERROR_NULL;
  ASSERT_TRUE(system.AddSystemdUnit("pellux.service"));
  std::vector<std::string> problems;
  SystemdUnits units([&](const std::string& line) { problems.push_back(line); });
  const auto state = [&] {
    char* value = nullptr;
    sd_bus_get_property_string(system.Bus(), "org.freedesktop.systemd1",
                               SystemdUnitObject("pellux.service").c_str(),
                               "org.freedesktop.systemd1.Unit", "ActiveState", &error, &value);
    std::string text = value != nullptr ? value : "";
    free(value);
    return text;
  };
  EXPECT_TRUE(units.Enable("pellux.service"));
  EXPECT_TRUE(units.Start("pellux.service"));
  EXPECT_EQ(state(), "active");
  EXPECT_TRUE(units.Stop("pellux.service"));
  EXPECT_EQ(state(), "inactive");
  EXPECT_TRUE(units.Disable("pellux.service"));
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
  const std::string calls = system.Calls();
  for (const char* call :
       {"EnableUnitFiles [\"pellux.service\"] False True", "Reload",
        "StartUnit \"pellux.service\" \"replace\"", "StopUnit \"pellux.service\" \"replace\"",
        "DisableUnitFiles [\"pellux.service\"] False"}) {
    EXPECT_NE(calls.find(call), std::string::npos) << call << "\n" << calls;
  }

  // A unit systemd does not know: refused, and the bus error is told.
  EXPECT_FALSE(units.Start("other.service"));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("StartUnit(other.service) failed: ", 0), 0u) << problems[0];
  sd_bus_error_free(&error);
}

TEST(SleepWatcherTest, SuspendAndResumeReachTheHandlerAndTheInhibitorDelaysTheSleep) {
  MockedSystemBus system("sleep", "logind", "org.freedesktop.login1");
  ASSERT_TRUE(system.Ready());
  Messages events;
  std::vector<std::string> problems;
  std::atomic<bool> heldDuringSuspend{false};
  SleepWatcher* watching = nullptr;
  SleepWatcher watcher(
      [&](bool suspending) {
        if (suspending) heldDuringSuspend.store(watching->HoldsInhibitor());
        events.Add(suspending ? "suspend" : "resume");
      },
      [&](const std::string& line) { problems.push_back(line); });
  watching = &watcher;
  ASSERT_TRUE(watcher.Start());
  EXPECT_TRUE(watcher.HoldsInhibitor());
  EXPECT_NE(system.Calls().find("Inhibit \"sleep\" \"Pellux Data Uploader\""), std::string::npos)
      << system.Calls();
  EXPECT_NE(system.Calls().find("\"delay\""), std::string::npos);

  const auto emit = [&](bool suspending) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int sent =
        sd_bus_call_method(system.Bus(), "org.freedesktop.login1", "/org/freedesktop/login1", kMock,
                           "EmitSignal", &error, nullptr, "sssav", "org.freedesktop.login1.Manager",
                           "PrepareForSleep", "b", 1, "b", suspending ? 1 : 0);
    sd_bus_error_free(&error);
    return sent >= 0;
  };
  ASSERT_TRUE(emit(true));
  ASSERT_TRUE(events.WaitFor(1));
  EXPECT_TRUE(heldDuringSuspend.load()) << "the sleep waits for the disconnect";
  for (int i = 0; i < 200 && watcher.HoldsInhibitor(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(watcher.HoldsInhibitor()) << "let go once the disconnect was handed on";
  ASSERT_TRUE(emit(false));
  ASSERT_TRUE(events.WaitFor(2));
  for (int i = 0; i < 200 && !watcher.HoldsInhibitor(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(watcher.HoldsInhibitor()) << "taken again after the wake";
  EXPECT_EQ(events.All(), (std::vector<std::string>{"suspend", "resume"}));
  watcher.Stop();
  EXPECT_FALSE(watcher.HoldsInhibitor());
  EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(SleepWatcherTest, WithoutASystemBusTheDaemonRunsWithoutSleepEvents) {
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pellux/bus", 1);
  std::vector<std::string> problems;
  SleepWatcher watcher([](bool) {}, [&](const std::string& line) { problems.push_back(line); });
  EXPECT_FALSE(watcher.Start());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("sd_bus_open_system failed: errno 2", 0), 0u) << problems[0];
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

}  // namespace
}  // namespace Pellux
