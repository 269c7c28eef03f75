// The daemon's user interface with its real parts: the shipped error page template, and a UI's
// round trip over real Unix sockets through the service pipe.

#include "ui/linux_user_interface.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/support/no_exchange.h"
#include "tests/support/recording_session_control.h"
#include "ui/channel/service_pipe.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

// This process, as the listener reports the messages it writes.
UiSender Me() {
  return UiSender::FromUnixCredentials(geteuid(), getegid(), static_cast<std::uint32_t>(getpid()));
}

using namespace std::chrono_literals;

std::chrono::steady_clock::time_point In(std::chrono::milliseconds duration) {
  return std::chrono::steady_clock::now() + duration;
}

class LinuxUserInterfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pellux-lui-XXXXXX";
    folder = mkdtemp(pattern);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::unique_ptr<LinuxUserInterface> Make(const std::string& programFolder) {
    return std::make_unique<LinuxUserInterface>(store, pool, nullptr, clock, programFolder);
  }

  // A UI's reply endpoint and what arrives there.
  std::string Receive(UnixSocket& endpoint) {
    std::string error;
    auto client = endpoint.Accept(-1, In(5s), error);
    if (!client) return "(nothing: " + error + ")";
    std::string text;
    client->ReadAll(kMaxUiReplyBytes, -1, In(5s), text, error);
    return text;
  }

  // Polls the service as a UI at a fresh reply endpoint (which makes the endpoint the UI's
  // own), checks the answer, and returns the page that ShowError sends there.
  std::string ErrorPageThrough(LinuxUserInterface& ui, const std::string& key) {
    const std::string endpoint = "@pellux-test-lui-" + std::to_string(getpid()) + "-" + key;
    std::string error;
    bool busy = false;
    auto listener = UnixSocket::Listen(endpoint, 0, busy, error);
    if (!listener) return "(no endpoint: " + error + ")";
    RecordingSessionControl engine;
    ServicePipe pipe(engine, ui, clock, ui.MakeListener(folder + "/service.sock"));
    if (!pipe.Start()) return "(no listener)";
    {
      bool missing = false;
      auto client = UnixSocket::Connect(folder + "/service.sock", missing, error);
      if (!client) return "(no connection: " + error + ")";
      client->WriteAll("T" + endpoint, In(5s), error);
      client->ShutdownWrite(error);
    }
    EXPECT_EQ(Receive(*listener), "T0 0");
    ui.ShowError(0, key, pipe.ContextFor(Me(), endpoint));
    std::string page = Receive(*listener);
    pipe.Stop();
    return page;
  }

  std::string folder;
  MemorySettingsStore store;
  VirtualClock clock;
  NoExchange exchange;
  NetworkWorkerPool pool{exchange};
};

TEST_F(LinuxUserInterfaceTest, ShippedTemplateShowsOneMessage) {
  auto ui = Make(PELLUX_SOURCE_DIR);
  const std::string page = ErrorPageThrough(*ui, "kPXDaemonStationUnPlugged");
  EXPECT_EQ(page.rfind("H-1 -1 <!DOCTYPE html>", 0), 0u) << page;
  EXPECT_NE(page.find("<p>Your Pellux base station is no longer plugged in. Please plug in your "
                      "base station and try again.</p>"),
            std::string::npos);
  EXPECT_EQ(page.find("internal error"), std::string::npos);
}

TEST_F(LinuxUserInterfaceTest, MissingTemplateGivesEmptyPages) {
  auto ui = Make(folder);
  EXPECT_EQ(ErrorPageThrough(*ui, "kPXDaemonDisconnected"), "H-1 -1 ");
}

TEST(LinuxProgramFolder, IsTheFolderOfTheRunningProgram) {
  std::string problem;
  const std::string own = LinuxUserInterface::ProgramFolder(problem);
  EXPECT_TRUE(problem.empty()) << problem;
  EXPECT_TRUE(std::filesystem::exists(own + "/ui_linux_user_interface_tests")) << own;
}

}  // namespace
}  // namespace Pellux
