// The real uplinker program as systemd runs it, as a child process: its notify socket held by
// the test, its folders in the environment, pellux-sim on a pseudo-terminal as its base station
// ("SerialPort") and the reference server: a whole upload, followed by pelluxctl's status
// --follow to its last byte, pelluxctl's status over its real socket, and SIGTERM ending it cleanly
// with the activity log's closing marker. And its test hooks from the environment: told on its
// error stream, and an engine stalled as asked that neither beats nor stops.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "demo/child_program_linux.h"
#include "demo/demo_scenario.h"
#include "sim/reference_server.h"
#include "tests/support/locked_text.h"
#include "tests/support/mocked_system_bus_linux.h"
#include "tests/support/notify_socket_linux.h"
#include "tests/support/pelluxctl_status.h"
#include "tests/support/sim_process.h"
#include "ui/settings/settings_store.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

bool Eventually(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// What `status --follow` showed of one upload: the progress lines move forward, and end in the
// upload's own byte counts, which hold the download the tracker sent (2048 bytes) and the
// upload it took (512).
void ExpectProgressReachesTheUploadsBytes(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::uint64_t lastFrom = 0;
  std::uint64_t lastTo = 0;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> transferred;
  std::optional<std::pair<std::uint64_t, std::uint64_t>> uploaded;
  while (std::getline(lines, line)) {
    unsigned long long from = 0;
    unsigned long long to = 0;
    unsigned long long total = 0;
    const std::size_t at = line.find(' ') + 1;
    if (std::sscanf(line.c_str() + at, "transferring: %llu bytes from the tracker, %llu to it",
                    &from, &to) == 2) {
      EXPECT_GE(from, lastFrom) << line;
      EXPECT_GE(to, lastTo) << line;
      lastFrom = from;
      lastTo = to;
    } else if (std::sscanf(line.c_str() + at,
                           "transferred: %llu bytes from the tracker, %llu to it", &from,
                           &to) == 2) {
      transferred.emplace(from, to);
    } else if (std::sscanf(line.c_str() + at,
                           "upload succeeded: %llu bytes (%llu from the tracker, %llu to it)",
                           &total, &from, &to) == 3 &&
               !uploaded) {
      EXPECT_EQ(total, from + to) << line;
      uploaded.emplace(from, to);
    }
  }
  ASSERT_TRUE(uploaded.has_value()) << text;
  ASSERT_TRUE(transferred.has_value()) << "no progress was seen:\n" << text;
  EXPECT_EQ(*transferred, *uploaded) << text;
  EXPECT_LE(lastFrom, uploaded->first);
  EXPECT_LE(lastTo, uploaded->second);
  EXPECT_GE(uploaded->first, 2048u);
  EXPECT_GE(uploaded->second, 512u);
}

class UplinkerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pellux-uplinker-XXXXXX";
    folder = mkdtemp(pattern);
    for (const char* part : {"state", "logs", "run"})
      std::filesystem::create_directory(folder / part);
    setenv("STATE_DIRECTORY", (folder / "state").c_str(), 1);
    setenv("LOGS_DIRECTORY", (folder / "logs").c_str(), 1);
    setenv("RUNTIME_DIRECTORY", (folder / "run").c_str(), 1);
    setenv("WATCHDOG_USEC", "2000000", 1);
    unsetenv("WATCHDOG_PID");
  }
  void TearDown() override {
    for (const char* name :
         {"STATE_DIRECTORY", "LOGS_DIRECTORY", "RUNTIME_DIRECTORY", "WATCHDOG_USEC"}) {
      unsetenv(name);
    }
    std::filesystem::remove_all(folder);
  }

  std::filesystem::path folder;
};

TEST_F(UplinkerProcessTest, UploadsAnswersTheUiSleepsAndWakesAndStopsOnSigterm) {
  // logind on a bus of the test's own, for the sleep and wake events.
  MockedSystemBus system("uplinker", "logind", "org.freedesktop.login1");
  ASSERT_TRUE(system.Ready());
  NotifySocket notify;
  ReferenceServer server;
  server.ScriptDocuments(DemoScenario::Default().DocumentsFor("127.0.0.1", server.Port()));
  SimProcess sim(
      {PELLUX_SIM_PATH, "--answer", "2201=download:2048:11", "--answer", "2202=upload:512:1000"});
  ASSERT_TRUE(sim.Started());
  const std::optional<std::string> pty = sim.ReadLine(10s);
  ASSERT_TRUE(pty.has_value());
  {
    auto settings =
        SettingsStore::CreateForPlatform((folder / "state" / "settings.json").string(),
                                         [](const std::string& line) { ADD_FAILURE() << line; });
    settings->WriteText("Tracker", "ServerHost", "127.0.0.1");
    settings->WriteNumber("Tracker", "ServerPort", server.Port());
    settings->WriteText("Tracker", "ErrorHost", "127.0.0.1");
    settings->WriteNumber("Tracker", "ErrorPort", server.Port());
    settings->WriteText("Tracker", "SerialPort", *pty);
    settings->WriteNumber("Tracker", "LogActivity", 1);
    settings->WriteNumber("Tracker", "MaxLogDays", 1);
  }

  SimProcess uplinker({PELLUX_UPLINKER_PATH});
  ASSERT_TRUE(uplinker.Started());
  ASSERT_TRUE(notify.received.WaitFor(1, 10000ms));
  EXPECT_EQ(notify.received.At(0), "READY=1");
  // `pelluxctl status --follow` from the start, asking more often than the program does, so
  // that it sees the transfer move.
  LockedText followed;
  std::atomic<bool> followerDone{false};
  std::thread follower([&] {
    PelluxctlOptions options;
    options.command = PelluxctlOptions::Command::kStatus;
    options.follow = true;
    options.service = (folder / "run" / "service.sock").string();
    std::string error;
    auto connection = UiConnection::Open(options.service, "@pellux-uplinker-follow", error);
    if (connection == nullptr) return;
    std::ostream out(&followed);
    std::ostringstream err;
    std::istringstream in;
    PelluxctlIo io{out, err, in, followerDone, 5000ms, 2000ms};
    io.followInterval = 50ms;
    RunPelluxctl(options, *connection, io);
  });
  // A whole upload of the demo's scenario: the session's posts, the download and the upload.
  EXPECT_TRUE(Eventually([&] { return server.Requests().size() >= 3; }))
      << server.Requests().size();
  EXPECT_TRUE(Eventually(
      [&] { return followed.Text().find("upload succeeded: ") != std::string::npos; }, 10s));
  followerDone = true;
  follower.join();
  ExpectProgressReachesTheUploadsBytes(followed.Text());
  EXPECT_TRUE(Eventually([&] { return notify.Count("WATCHDOG=1") >= 2; }));

  const std::string status =
      PelluxctlStatus((folder / "run" / "service.sock").string(), "@pellux-uplinker-test");
  EXPECT_TRUE(StatusSaysStationOpen(status)) << status;

  // A second daemon, or a user asking for help, leaves the running one alone: its socket stays
  // and answers.
  SimProcess second({PELLUX_UPLINKER_PATH});
  EXPECT_EQ(second.Wait(), 1);
  SimProcess help({PELLUX_UPLINKER_PATH, "--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_TRUE(StatusSaysStationOpen(
      PelluxctlStatus((folder / "run" / "service.sock").string(), "@pellux-uplinker-test")));

  const auto logged = [&](const std::string& text) {
    std::string log;
    for (const auto& entry : std::filesystem::directory_iterator(folder / "logs")) {
      log += ReadFile(entry.path());
    }
    return log.find(text) != std::string::npos;
  };
  // A reload (SIGHUP) reads the settings again; a broken pipe (SIGPIPE) ends nothing.
  ASSERT_TRUE(uplinker.Signal(SIGHUP));
  EXPECT_TRUE(Eventually([&] { return logged("SIGHUP received: reading the settings again"); }));
  EXPECT_TRUE(Eventually([&] { return logged("Restoring client settings..."); }));
  ASSERT_TRUE(uplinker.Signal(SIGPIPE));
  EXPECT_TRUE(StatusSaysStationOpen(
      PelluxctlStatus((folder / "run" / "service.sock").string(), "@pellux-uplinker-test")));

  // The system sleeps: the station is let go before the inhibitor is, and taken on the wake.
  const auto prepare = [&](bool suspending) {
    return sd_bus_call_method(system.Bus(), "org.freedesktop.login1", "/org/freedesktop/login1",
                              kMock, "EmitSignal", nullptr, nullptr, "sssav",
                              "org.freedesktop.login1.Manager", "PrepareForSleep", "b", 1, "b",
                              suspending ? 1 : 0) >= 0;
  };
  EXPECT_NE(system.Calls().find("Inhibit \"sleep\""), std::string::npos) << system.Calls();
  ASSERT_TRUE(prepare(true));
  EXPECT_TRUE(Eventually([&] { return logged("[POWER EVENT] SUSPEND"); }, 10s));
  EXPECT_TRUE(Eventually([&] { return logged("Processing action 'basestationdisconnect'"); }, 10s));
  ASSERT_TRUE(prepare(false));
  EXPECT_TRUE(Eventually([&] { return logged("[POWER EVENT] RESUME SUSPEND"); }, 10s));
  EXPECT_TRUE(Eventually([&] { return logged("Processing action 'basestationconnect'"); }, 10s));

  const auto stopping = std::chrono::steady_clock::now();
  EXPECT_EQ(uplinker.Stop(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
  EXPECT_EQ(notify.Count("STOPPING=1"), 1u);
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "logs")) {
    log += ReadFile(entry.path());
  }
  EXPECT_NE(log.find("Starting session in standard mode..."), std::string::npos);
  EXPECT_NE(log.find("SIGTERM received"), std::string::npos);
  EXPECT_NE(log.find("<<< APPLICATION TERMINATED >>>"), std::string::npos) << log;
  EXPECT_FALSE(std::filesystem::exists(folder / "run" / "service.sock"));
}

TEST_F(UplinkerProcessTest, TestHooksAreToldAndAStalledEngineNeitherBeatsNorStops) {
  NotifySocket notify;
  setenv("WATCHDOG_USEC", "400000", 1);  // a heartbeat every 200 ms
  setenv("PELLUX_TEST_HOOKS", "engine-stall-after=1, radio-idle-limit=20,bogus=3", 1);
  // Its error stream on the pipe the test reads, and never the journal.
  SimProcess uplinker({"/bin/sh", "-c", "unset INVOCATION_ID JOURNAL_STREAM; exec \"$0\" 2>&1",
                       PELLUX_UPLINKER_PATH});
  unsetenv("PELLUX_TEST_HOOKS");
  // SIGTERM does not end it: whatever happens below, SIGKILL does, before the reaping.
  struct KilledAtTheEnd {
    SimProcess& process;
    ~KilledAtTheEnd() { process.Signal(SIGKILL); }
  } killed{uplinker};
  ASSERT_TRUE(uplinker.Started());

  // Whether `wanted` was told, from the line numbered `from` on, within `limit`.
  std::vector<std::string> lines;
  const auto told = [&](const std::string& wanted, std::chrono::milliseconds limit,
                        std::size_t from = 0) {
    if (std::find(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                  lines.end(), wanted) != lines.end()) {
      return true;
    }
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      const auto line = uplinker.ReadLine(50ms);
      if (!line) continue;
      lines.push_back(*line);
      if (*line == wanted) return true;
    }
    return false;
  };
  EXPECT_TRUE(
      told("Test hooks active: engine-stall-after=1, radio-idle-limit=20 "
           "(PELLUX_TEST_HOOKS; not for production)",
           10s))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(
      told("PELLUX_TEST_HOOKS: unknown hook \"bogus\" ignored (known: engine-stall-after, "
           "radio-idle-limit)",
           10s))
      << ::testing::PrintToString(lines);
  ASSERT_TRUE(
      told("The engine stalls as asked (engine-stall-after): its loop keeps the engine's "
           "lock from now on, and the watchdog's heartbeat stops",
           10s))
      << ::testing::PrintToString(lines);
  EXPECT_GE(notify.Count("WATCHDOG=1"), 1u);
  std::this_thread::sleep_for(300ms);  // a beat already on its way may still arrive
  const std::size_t before = notify.Count("WATCHDOG=1");
  std::this_thread::sleep_for(1000ms);
  EXPECT_EQ(notify.Count("WATCHDOG=1"), before) << "a stalled engine sends no heartbeat";

  // SIGTERM takes the stop path, which waits for the engine's lock: only a signal that kills
  // ends the daemon, as systemd's watchdog and stop time-out do.
  ASSERT_TRUE(uplinker.Signal(SIGTERM));
  EXPECT_TRUE(told("SERVICE STOP EVENT", 10s)) << ::testing::PrintToString(lines);
  const std::size_t stopping = lines.size();
  EXPECT_FALSE(told("Shutting down...", 1000ms, stopping)) << ::testing::PrintToString(lines);
  ASSERT_TRUE(uplinker.Signal(SIGKILL));
  EXPECT_EQ(uplinker.Wait(), -1) << "ended by the signal, not by itself";
}

TEST_F(UplinkerProcessTest, SwitchesGoToSystemdsManager) {
  MockedSystemBus system("switches", "systemd", "org.freedesktop.systemd1");
  ASSERT_TRUE(system.Ready());
  ASSERT_TRUE(system.AddSystemdUnit("pellux.service"));
  // Each switch: its exit code and what it prints on its error stream.
  const auto run = [](const std::string& which) {
    ChildProgram program({PELLUX_UPLINKER_PATH, which});
    std::string err;
    while (const auto line = program.ReadLine(ChildProgram::Stream::kErr, 10s)) err += *line + "\n";
    return std::make_pair(program.Stop(), err);
  };
  using Outcome = std::pair<int, std::string>;
  EXPECT_EQ(run("/i"), Outcome(0, ""));
  EXPECT_EQ(run("-S"), Outcome(0, "The Pellux Data Uploader service has started.\n"));
  EXPECT_EQ(run("/P"), Outcome(0, ""));
  EXPECT_EQ(run("/U"), Outcome(0, ""));
  const std::string calls = system.Calls();
  for (const char* call : {"EnableUnitFiles", "StartUnit \"pellux.service\"",
                           "StopUnit \"pellux.service\"", "DisableUnitFiles"}) {
    EXPECT_NE(calls.find(call), std::string::npos) << call << "\n" << calls;
  }
  // A start whose job ends otherwise than "done" has not started anything: said, and exit 1.
  ASSERT_GE(
      sd_bus_call_method(system.Bus(), "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                         kMock, "SetNextJobResult", nullptr, nullptr, "s", "failed"),
      0);
  const auto [startCode, startErr] = run("/S");
  EXPECT_EQ(startCode, 1);
  EXPECT_NE(startErr.find("StartUnit(pellux.service): the job ended \"failed\""), std::string::npos)
      << startErr;
  EXPECT_NE(startErr.find("The Pellux Data Uploader service failed to start.\n"),
            std::string::npos);
  EXPECT_EQ(startErr.find("has started"), std::string::npos) << startErr;
  // A word the program does not know is a usage error: no daemon starts.
  for (const char* word : {"--bogus", "/X", "setup"}) {
    const auto [code, err] = run(word);
    EXPECT_EQ(code, 2) << word;
    EXPECT_NE(err.find("unknown argument"), std::string::npos) << err;
    EXPECT_NE(err.find("Usage:"), std::string::npos) << err;
  }
  // With no systemd to ask, a switch fails with the reason, the failure message and exit 1.
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pellux/bus", 1);
  const auto [code, failed] = run("/P");
  EXPECT_EQ(code, 1);
  EXPECT_NE(failed.find("sd_bus_open_system failed: errno 2"), std::string::npos) << failed;
  EXPECT_NE(failed.find("The Pellux Data Uploader service failed to stop.\n"), std::string::npos);
}

}  // namespace
}  // namespace Pellux
