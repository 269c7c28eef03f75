// pelluxctl's commands against the service's real UI channel: the Unix socket listener, the
// service pipe and the daemon's user interface, with a recording engine behind them.

#include "tools/pelluxctl/pelluxctl_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/support/locked_text.h"
#include "tests/support/no_exchange.h"
#include "tests/support/recording_session_control.h"
#include "ui/linux_user_interface.h"
#include "ui/service_pipe.h"
#include "ui/unix_socket_linux.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class PelluxctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelluxctl-test-XXXXXX";
    folder = mkdtemp(pattern);
    service = folder + "/service.sock";
    ui = std::make_unique<LinuxUserInterface>(store, pool, nullptr, clock, PELLUX_SOURCE_DIR);
    pipe = std::make_unique<ServicePipe>(engine, *ui, clock, ui->MakeListener(service));
    ASSERT_TRUE(pipe->Start());
    options.service = service;
    std::string error;
    connection = UiConnection::Open(service, reply, error);
    ASSERT_NE(connection, nullptr) << error;
  }
  void TearDown() override {
    pipe.reset();
    ui.reset();
    std::filesystem::remove_all(folder);
  }

  int Run() {
    const PelluxctlIo io{out, err, in, interrupted, 300ms, 200ms};
    return RunPelluxctl(options, *connection, io);
  }

  // Waits until the engine has seen `count` actions.
  bool WaitForActions(std::size_t count) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (engine.Actions().size() < count) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  std::string folder;
  std::string service;
  const std::string reply = "@pelluxctl-test-" + std::to_string(getpid());
  MemorySettingsStore store;
  VirtualClock clock;
  NoExchange exchange;
  NetworkWorkerPool pool{exchange};
  RecordingSessionControl engine;
  std::unique_ptr<LinuxUserInterface> ui;
  std::unique_ptr<ServicePipe> pipe;
  std::unique_ptr<UiConnection> connection;
  PelluxctlOptions options;
  LockedText outText;
  std::ostream out{&outText};
  std::ostringstream err;
  std::istringstream in;
  std::atomic<bool> interrupted{false};
};

TEST_F(PelluxctlTest, StatusPrintsTheStationAndTheLastSleepInLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  options.command = PelluxctlOptions::Command::kStatus;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_EQ(outText.Text(), "base station: closed\ntracker last put to sleep: never\n");
  outText.str("");
  engine.SetStatus(true, 1767225600);
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_EQ(outText.Text(), "base station: open\ntracker last put to sleep: 2026-01-01 00:00:00\n");
  EXPECT_TRUE(engine.Actions().empty());
}

TEST_F(PelluxctlTest, CommandsWithoutAnswerReachTheServiceAsTheirMessages) {
  options.command = PelluxctlOptions::Command::kRefresh;
  EXPECT_EQ(Run(), kPelluxctlOk);
  options.command = PelluxctlOptions::Command::kOpen;
  options.url = "not-a-url";
  EXPECT_EQ(Run(), kPelluxctlOk);
  options.command = PelluxctlOptions::Command::kFinish;
  EXPECT_EQ(Run(), kPelluxctlOk);
  ASSERT_TRUE(WaitForActions(2));
  const Context context = pipe->ContextFor(reply);
  EXPECT_EQ(engine.Actions(), (std::vector<RecordingSessionControl::Action>{
                                  {"refresh", "settings", context}, {"finish", "", context}}));
  options.command = PelluxctlOptions::Command::kLogging;
  options.loggingOn = true;
  options.logDays = 9;
  EXPECT_EQ(Run(), kPelluxctlOk);
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!store.ReadNumber("Tracker", "MaxLogDays").has_value() ||
         *store.ReadNumber("Tracker", "MaxLogDays") != 9) {
    ASSERT_LT(std::chrono::steady_clock::now(), until);
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(store.ReadNumber("Tracker", "LogActivity"), 1u);
}

TEST_F(PelluxctlTest, SessionShowsPagesAndStatusLinesSendsFormsAndFinishes) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.html = folder + "/pages";
  options.forms = {"user=ann&pass=x y"};
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(1));
  const Context context = pipe->ContextFor(reply);
  EXPECT_EQ(engine.Actions()[0], (RecordingSessionControl::Action{"init", "setup", context}));
  ui->Log("Connecting to the server...", 8, context);
  ui->DisplayHtml("<form>name?</form>", context, 400, 300);
  ASSERT_TRUE(WaitForActions(2));
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  ASSERT_TRUE(WaitForActions(3));  // the service reads the last message after pelluxctl is done
  const auto actions = engine.Actions();
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[1], (RecordingSessionControl::Action{"form", "user=ann&pass=x y", context}));
  EXPECT_EQ(actions[2], (RecordingSessionControl::Action{"finish", "", context}));
  const std::string page = folder + "/pages/page-1.html";
  std::ifstream file(page);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "<form>name?</form>");
  EXPECT_EQ(outText.Text(),
            "session setup started; Ctrl-C finishes it\n"
            "info: Connecting to the server...\n"
            "page 1 (400x300): " +
                page + "\nform sent\nsession finished\n");
}

TEST_F(PelluxctlTest, SessionPrintsPagesAndSendsEachInputLine) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.html = "-";
  options.forms = {"-"};
  in.str("a=1\nb=2\n");
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(3));
  const Context context = pipe->ContextFor(reply);
  ui->DisplayHtml("<p>hi</p>", context, -1, -1);
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (outText.Text().find("end of page 1") == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(1ms);
  }
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  ASSERT_TRUE(WaitForActions(4));
  const auto actions = engine.Actions();
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[1].argument, "a=1");
  EXPECT_EQ(actions[2].argument, "b=2");
  EXPECT_NE(outText.Text().find("--- page 1 (-1x-1) ---\n<p>hi</p>\n--- end of page 1 ---\n"),
            std::string::npos);
}

TEST_F(PelluxctlTest, PagesGoToANewTemporaryFolderByDefault) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  // A reply endpoint at a path: never part of the folder's name.
  const std::string pathReply = folder + "/reply-x.sock";
  std::string error;
  connection.reset();
  connection = UiConnection::Open(service, pathReply, error);
  ASSERT_NE(connection, nullptr) << error;
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(1));
  ui->DisplayHtml("<p/>", pipe->ContextFor(pathReply), -1, -1);
  const std::string prefix =
      "page 1 (-1x-1): " + (std::filesystem::temp_directory_path() / "pelluxctl-").string();
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (outText.Text().find(prefix) == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(1ms);
  }
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  const std::string text = outText.Text();
  const auto at = text.find(prefix);
  ASSERT_NE(at, std::string::npos) << text;
  const std::string path = text.substr(at + 16, text.find('\n', at) - at - 16);
  EXPECT_EQ(path.find("reply"), std::string::npos) << path;
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
}

TEST_F(PelluxctlTest, ClearErrorsWhenTheServiceIsNotThereOrSilent) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.service = folder + "/none.sock";
  std::string error;
  connection.reset();
  connection = UiConnection::Open(options.service, reply, error);
  ASSERT_NE(connection, nullptr) << error;
  EXPECT_EQ(Run(), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: the Pellux service is not running (nothing listens at " +
                           folder + "/none.sock)\n");

  // Something listens, but never answers.
  err.str("");
  options.service = folder + "/silent.sock";
  auto silent = UnixSocket::Listen(options.service, 0, error);
  ASSERT_TRUE(silent) << error;
  connection.reset();
  connection = UiConnection::Open(options.service, reply, error);
  EXPECT_EQ(Run(), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: the service did not answer within 300 ms\n");
}

}  // namespace
}  // namespace Pellux
