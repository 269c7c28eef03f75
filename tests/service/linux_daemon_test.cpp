// The daemon under a notify socket held by the test, as systemd holds it: READY=1, a readable
// STATUS=, WATCHDOG=1 from the engine's loop (and none while the engine is wedged, also when it
// wedges itself as asked), SIGTERM and Stop taking the stop path.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "service/linux_daemon_linux.h"
#include "sim/memory_settings_store.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/eventually.h"
#include "tests/support/notify_socket_linux.h"
#include "tests/support/recorded_debug_output.h"
#include "tests/support/waited_texts.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// A folder of its own for a daemon under test, which systemd asks for a heartbeat every 100 ms.
std::string PrepareDaemonFolder() {
  setenv("WATCHDOG_USEC", "200000", 1);
  unsetenv("WATCHDOG_PID");
  char pattern[] = "/tmp/pellux-daemon-XXXXXX";
  return mkdtemp(pattern);
}

// The pieces of a daemon under test: its socket in `folder`, its lines in `lines`.
LinuxDaemon::Pieces TestPieces(SettingsStore& store, BaseStationDevices& bus,
                               const std::string& folder, Messages& lines) {
  return LinuxDaemon::Pieces{.settings = store,
                             .devices = bus,
                             .clock = SystemClock::Instance(),
                             .socketPath = folder + "/service.sock",
                             .programFolder = PELLUX_SOURCE_DIR,
                             .output = std::make_unique<RecordedDebugOutput>(lines),
                             .logFolder = nullptr,
                             .statusInterval = 100ms,
                             .relauncher = {}};
}

class LinuxDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = PrepareDaemonFolder();
    daemon = std::make_unique<LinuxDaemon>(TestPieces(store, bus, folder, lines));
    runner = std::thread([this] { exitCode = daemon->Run(); });
  }
  void TearDown() override {
    if (runner.joinable()) {
      daemon->Stop();
      runner.join();
    }
    daemon.reset();
    unsetenv("WATCHDOG_USEC");
    std::filesystem::remove_all(folder);
  }
  bool Logged(const std::string& line) {
    const auto all = lines.All();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

  // First: every thread of the test, the notify socket's reader included, leaves the stop
  // signals to the daemon's Run.
  struct StopSignalsBlocked {
    StopSignalsBlocked() { LinuxDaemon::BlockStopSignals(); }
  } blocked;
  NotifySocket notify;
  Messages lines;
  std::string folder;
  MemorySettingsStore store;
  VirtualBaseStation station{SystemClock::Instance()};  // outlives the bus it is put on
  VirtualDeviceBus bus;
  std::unique_ptr<LinuxDaemon> daemon;
  std::thread runner;
  int exitCode = -1;
};

TEST_F(LinuxDaemonTest, ReadyStatusAndAHeartbeatThatAWedgedEngineStops) {
  ASSERT_TRUE(Eventually([&] { return notify.Count("READY=1") == 1; }));
  ASSERT_TRUE(Eventually([&] { return notify.Count("WATCHDOG=1") >= 3; }));
  EXPECT_EQ(notify.Count("STATUS=Waiting for a base station"), 1u) << "sent when it changes";
  EXPECT_TRUE(std::filesystem::exists(folder + "/service.sock"));

  // An engine that holds its lock sends no heartbeat: systemd would restart it.
  std::size_t during = 0;
  daemon->Engine().RunLocked([&] {
    std::this_thread::sleep_for(150ms);  // a beat already on its way may still arrive
    const std::size_t before = notify.Count("WATCHDOG=1");
    std::this_thread::sleep_for(500ms);
    during = notify.Count("WATCHDOG=1") - before;
  });
  EXPECT_EQ(during, 0u);
  ASSERT_TRUE(Eventually([&] { return notify.Count("WATCHDOG=1") >= 5; }));

  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  runner.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(notify.Count("STOPPING=1"), 1u);
  EXPECT_TRUE(Logged("SIGTERM received"));
  EXPECT_TRUE(Logged("SERVICE STOP EVENT"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/service.sock"));
}

TEST_F(LinuxDaemonTest, AStationThatArrivesIsOpenedAndTheStatusSaysSo) {
  ASSERT_TRUE(Eventually([&] { return notify.Count("READY=1") == 1; }));
  bus.Attach(station, 0x10C4, 0x84C4);
  daemon->Apply({{{4, "a station arrives"}}, HostEventOutcome::Action{"basestationconnect", "1"}});
  EXPECT_TRUE(Eventually([&] {
    return notify.Count("STATUS=Searching for trackers") +
               notify.Count("STATUS=Linked to a tracker") +
               notify.Count("STATUS=Uploading to the server") >=
           1;
  })) << ::testing::PrintToString(notify.received.All());
  EXPECT_TRUE(Logged("a station arrives"));
  daemon->Stop();
  runner.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_EQ(notify.Count("STATUS=Stopping"), 1u);
}

// A daemon of its own, asked (or not) to stall its engine after `stallAfter`. Its stall waits
// until Release, which the daemon's own stop never does: the stop path waits for the lock.
class StallingDaemon {
 public:
  explicit StallingDaemon(std::optional<std::chrono::milliseconds> stallAfter) {
    folder = PrepareDaemonFolder();
    LinuxDaemon::Pieces pieces = TestPieces(store, bus, folder, lines);
    pieces.engineStallAfter = stallAfter;
    pieces.engineStall = [this] {
      std::unique_lock guard(mutex);
      released.wait(guard, [this] { return isReleased; });
    };
    daemon = std::make_unique<LinuxDaemon>(std::move(pieces));
    runner = std::thread([this] {
      exitCode = daemon->Run();
      finished.store(true);
    });
  }
  StallingDaemon(const StallingDaemon&) = delete;
  StallingDaemon& operator=(const StallingDaemon&) = delete;
  ~StallingDaemon() {
    Release();
    daemon->Stop();
    runner.join();
    daemon.reset();
    unsetenv("WATCHDOG_USEC");
    std::filesystem::remove_all(folder);
  }

  void Release() {
    const std::lock_guard guard(mutex);
    isReleased = true;
    released.notify_all();
  }
  bool Logged(const std::string& line) const {
    const auto all = lines.All();
    return std::find(all.begin(), all.end(), line) != all.end();
  }

  struct StopSignalsBlocked {
    StopSignalsBlocked() { LinuxDaemon::BlockStopSignals(); }
  } blocked;
  NotifySocket notify;
  Messages lines;
  std::string folder;
  MemorySettingsStore store;
  VirtualDeviceBus bus;
  std::mutex mutex;
  std::condition_variable released;
  bool isReleased = false;
  std::unique_ptr<LinuxDaemon> daemon;
  std::thread runner;
  std::atomic<bool> finished{false};
  int exitCode = -1;
};

TEST(LinuxDaemonStallTest, AnEngineStalledAsAskedStopsTheHeartbeatForGoodAndStopWaitsForIt) {
  const std::string stalled =
      "The engine stalls as asked (engine-stall-after): its loop keeps the engine's lock from "
      "now on, and the watchdog's heartbeat stops";
  const struct {
    const char* name;
    std::optional<std::chrono::milliseconds> stallAfter;
  } rows[] = {
      {"not asked", std::nullopt},
      {"after 200 ms", 200ms},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StallingDaemon under(row.stallAfter);
    ASSERT_TRUE(Eventually([&] { return under.notify.Count("READY=1") == 1; }));
    // The first beat goes before the loop does anything else: a stall comes after it.
    ASSERT_TRUE(Eventually([&] { return under.notify.Count("WATCHDOG=1") >= 1; }));
    if (row.stallAfter) {
      ASSERT_TRUE(Eventually([&] { return under.Logged(stalled); }));
      std::this_thread::sleep_for(150ms);  // a beat already on its way may still arrive
    } else {
      std::this_thread::sleep_for(350ms);
      EXPECT_FALSE(under.Logged(stalled));
    }
    const std::size_t before = under.notify.Count("WATCHDOG=1");
    std::this_thread::sleep_for(500ms);
    const std::size_t during = under.notify.Count("WATCHDOG=1") - before;
    if (!row.stallAfter) {
      EXPECT_GE(during, 2u) << "the heartbeat goes on without a stall";
      continue;
    }
    EXPECT_EQ(during, 0u) << "a stalled engine sends no heartbeat";

    // Stopping waits for the engine's lock like everything else: the stall is not undone.
    under.daemon->Stop();
    ASSERT_TRUE(Eventually([&] { return under.Logged("SERVICE STOP EVENT"); }));
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(under.finished.load());
    EXPECT_FALSE(under.Logged("Shutting down..."));
    under.Release();
    ASSERT_TRUE(Eventually([&] { return under.finished.load(); }));
    EXPECT_EQ(under.exitCode, 0);
    EXPECT_TRUE(under.Logged("Shutting down..."));
  }
}

}  // namespace
}  // namespace Pellux
