// pelluxctl's commands on Windows against the service's real UI channel under Wine: the
// named-pipe listener, the service pipe and the service's user interface, with a recording
// engine behind them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/support/locked_text.h"
#include "tests/support/no_exchange.h"
#include "tests/support/recording_session_control.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "ui/service_pipe.h"
#include "ui/win_user_interface.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using ::testing::MatchesRegex;

std::string PipeName(const std::string& tag) {
  return "\\\\.\\pipe\\pelluxctl-test-" + tag + "-" + std::to_string(GetCurrentProcessId());
}

class PelluxctlWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui = std::make_unique<WinUserInterface>(store, pool, nullptr, clock,
                                            std::string("Z:") + PELLUX_SOURCE_DIR);
    pipe = std::make_unique<ServicePipe>(engine, *ui, clock, ui->MakeListener(service));
    ASSERT_TRUE(pipe->Start());
    options.service = service;
    std::string error;
    connection = UiConnection::Open(service, reply, error);
    ASSERT_NE(connection, nullptr) << error;
  }
  void TearDown() override {
    connection.reset();
    pipe.reset();
    ui.reset();
  }

  int Run() {
    const PelluxctlIo io{out, err, in, interrupted, 2000ms, 200ms};
    return RunPelluxctl(options, *connection, io);
  }

  bool WaitForActions(std::size_t count) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (engine.Actions().size() < count) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  const std::string service = PipeName("service");
  const std::string reply = PipeName("reply");
  MemorySettingsStore store;
  VirtualClock clock;
  NoExchange exchange;
  NetworkWorkerPool pool{exchange};
  RecordingSessionControl engine;
  std::unique_ptr<WinUserInterface> ui;
  std::unique_ptr<ServicePipe> pipe;
  std::unique_ptr<UiConnection> connection;
  PelluxctlOptions options;
  LockedText text;
  std::ostream out{&text};
  std::ostringstream err;
  std::istringstream in;
  std::atomic<bool> interrupted{false};
};

TEST_F(PelluxctlWinTest, StatusIsAnsweredOverTheReplyPipe) {
  options.command = PelluxctlOptions::Command::kStatus;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_EQ(text.Text(), "base station: closed\ntracker last put to sleep: never\n");
  text.str("");
  engine.SetStatus(true, 1767225600);
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_THAT(text.Text(), MatchesRegex("base station: open\ntracker last put to sleep: "
                                        "\\d\\d\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"));
  EXPECT_TRUE(engine.Actions().empty());
}

TEST_F(PelluxctlWinTest, LoggingRefreshAndFinishReachTheService) {
  options.command = PelluxctlOptions::Command::kLogging;
  options.loggingOn = true;
  options.logDays = 9;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  options.command = PelluxctlOptions::Command::kRefresh;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  options.command = PelluxctlOptions::Command::kFinish;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  ASSERT_TRUE(WaitForActions(2));
  const Context context = pipe->ContextFor(reply);
  EXPECT_EQ(engine.Actions(), (std::vector<RecordingSessionControl::Action>{
                                  {"refresh", "settings", context}, {"finish", "", context}}));
  EXPECT_EQ(store.ReadNumber("Tracker", "MaxLogDays"), 9u);
  EXPECT_EQ(store.ReadNumber("Tracker", "LogActivity"), 1u);
}

TEST_F(PelluxctlWinTest, SessionShowsStatusLinesAndPagesAndFinishes) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.html = "-";
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(1));
  const Context context = pipe->ContextFor(reply);
  EXPECT_EQ(engine.Actions()[0], (RecordingSessionControl::Action{"init", "setup", context}));
  ui->Log("Connecting to the server...", 8, context);
  ui->DisplayHtml("<p>hi</p>", context, 400, 300);
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (text.Text().find("end of page 1") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(1ms);
  }
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  ASSERT_TRUE(WaitForActions(2));
  EXPECT_EQ(engine.Actions()[1], (RecordingSessionControl::Action{"finish", "", context}));
  EXPECT_NE(text.Text().find("info: Connecting to the server...\n"), std::string::npos)
      << text.Text();
  EXPECT_NE(text.Text().find("--- page 1 (400x300) ---\n<p>hi</p>\n--- end of page 1 ---\n"),
            std::string::npos)
      << text.Text();
}

TEST_F(PelluxctlWinTest, ServiceNotRunningIsAClearErrorWithExitCodeOne) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.service = PipeName("none");
  connection.reset();
  std::string error;
  connection = UiConnection::Open(options.service, reply, error);
  ASSERT_NE(connection, nullptr) << error;
  EXPECT_EQ(Run(), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: the Pellux service is not running (nothing listens at " +
                           options.service + ")\n");
}

TEST(PelluxctlWinConnection, DefaultsAndNamesItRefuses) {
  EXPECT_EQ(UiConnection::DefaultServiceName(), "\\\\.\\pipe\\PelluxService");
  EXPECT_EQ(UiConnection::DefaultReplyName(),
            "\\\\.\\pipe\\pellux-ui-" + std::to_string(GetCurrentProcessId()));
  std::string error;
  EXPECT_EQ(UiConnection::Open("\\\\.\\pipe\\PelluxService", "\\\\host\\pipe\\x", error), nullptr);
  EXPECT_EQ(error, "the reply pipe must be \\\\.\\pipe\\ and a name without separators");
  // A reply pipe someone already listens on is not shared.
  const std::string taken = PipeName("taken");
  auto first = UiConnection::Open("\\\\.\\pipe\\PelluxService", taken, error);
  ASSERT_NE(first, nullptr) << error;
  error.clear();
  EXPECT_EQ(UiConnection::Open("\\\\.\\pipe\\PelluxService", taken, error), nullptr);
  EXPECT_EQ(error.rfind("UI: Cannot listen for UI messages: CreateNamedPipeA(" + taken + ")", 0),
            0u)
      << error;
}

}  // namespace
}  // namespace Pellux
