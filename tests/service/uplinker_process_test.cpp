// The real uplinker program as systemd runs it, as a child process: its notify socket held by
// the test, its folders in the environment, pellux-sim on a pseudo-terminal as its base station
// ("SerialPort") and the reference server: a whole upload, pelluxctl's status over its real
// socket, and SIGTERM ending it cleanly with the activity log's closing marker.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "demo/demo_scenario.h"
#include "sim/reference_server.h"
#include "tests/support/notify_socket_linux.h"
#include "tests/support/sim_process.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "ui/settings_store.h"

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

TEST_F(UplinkerProcessTest, UploadsAnswersTheUiAndStopsOnSigterm) {
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
  // A whole upload of the demo's scenario: the session's posts, the download and the upload.
  EXPECT_TRUE(Eventually([&] { return server.Requests().size() >= 3; }))
      << server.Requests().size();
  EXPECT_TRUE(Eventually([&] { return notify.Count("WATCHDOG=1") >= 2; }));

  PelluxctlOptions options;
  options.command = PelluxctlOptions::Command::kStatus;
  options.service = (folder / "run" / "service.sock").string();
  std::string error;
  auto connection = UiConnection::Open(options.service, "@pellux-uplinker-test", error);
  ASSERT_NE(connection, nullptr) << error;
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  std::atomic<bool> interrupted{false};
  EXPECT_EQ(RunPelluxctl(options, *connection, {out, err, in, interrupted, 5000ms, 2000ms}),
            kPelluxctlOk)
      << err.str();
  EXPECT_EQ(out.str().rfind("base station: open\n", 0), 0u) << out.str();

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

}  // namespace
}  // namespace Pellux
