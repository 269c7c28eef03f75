// The Linux UI channel against real local users: the tests run as root and play other users in
// child processes (setresuid to nobody and to a second uid), as another user on the machine
// would act against the daemon.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/log_level.h"
#include "sim/virtual_clock.h"
#include "tests/support/mocked_system_bus_linux.h"
#include "tests/support/recording_pipe_hooks.h"
#include "tests/support/recording_session_control.h"
#include "ui/channel/polkit_authority_linux.h"
#include "ui/channel/service_pipe.h"
#include "ui/channel/unix_pipe_server_linux.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kNobody = 65534;
constexpr std::uint32_t kSecondUser = 4321;

std::chrono::steady_clock::time_point In(std::chrono::milliseconds duration) {
  return std::chrono::steady_clock::now() + duration;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
  const auto until = In(limit);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Writes each of `messages` over its own connection, as a UI does.
bool Send(const std::string& path, const std::vector<std::string>& messages) {
  for (const std::string& text : messages) {
    bool missing = false;
    std::string error;
    auto socket = UnixSocket::Connect(path, missing, error);
    if (!socket || !socket->WriteAll(text, In(5s), error) || !socket->ShutdownWrite(error)) {
      return false;
    }
  }
  return true;
}

// Runs `body` in a child process as user `uid` (its group too, no others) and returns its exit
// code; `body` returns the child's.
int AsUser(std::uint32_t uid, const std::function<int()>& body) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
        setresuid(uid, uid, uid) != 0) {
      _exit(100);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class UnixTrustTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "plays other users, so it runs as root";
    char pattern[] = "/tmp/pellux-trust-XXXXXX";
    folder = mkdtemp(pattern);
    chmod(folder.c_str(), 0755);
    path = folder + "/service.sock";
  }
  void TearDown() override {
    if (pipe) pipe->Stop();
    if (!folder.empty()) std::filesystem::remove_all(folder);
  }
  void Start(UnixPipeServer::Limits limits = {}) {
    pipe = std::make_unique<ServicePipe>(
        engine, hooks, clock,
        std::make_unique<UnixPipeServer>(
            path,
            [this](const std::string& line, int level) { hooks.Log(line, level, kNoContext); },
            limits));
    ASSERT_TRUE(pipe->Start());
  }
  bool Logged(const std::string& text) const { return hooks.Count(text) > 0; }

  std::string folder;
  std::string path;
  VirtualClock clock;
  RecordingSessionControl engine;
  RecordingPipeHooks hooks;
  PolkitAuthority polkit{
      [this](const std::string& line, int level) { hooks.Log(line, level, kNoContext); }};
  std::unique_ptr<ServicePipe> pipe;
};

TEST_F(UnixTrustTest, AnotherUserCannotReconfigureTheServiceWithoutPolkitsYes) {
  hooks.platformAuthority = &polkit;
  // No polkitd answers on this bus: root only.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder + "/no-bus").c_str(), 1);
  Start();
  EXPECT_EQ(AsUser(kNobody,
                   [&] {
                     return Send(path, {"P @x 3 . 0 0 . proxy.evil:3128 .", "L @x 1 7", "L @x 0 0",
                                        "U @x http://evil.example/collect", "T @x"})
                                ? 0
                                : 1;
                   }),
            0);
  // The poll, handled after the four, is answered: the four have been handled.
  ASSERT_TRUE(Eventually([&] { return hooks.Replies().size() == 1; }));
  // The four refusals came within a second: one line says so, of whichever was handled first
  // (each came on a connection of its own, and the listener serves them side by side).
  const auto refusals = [&] {
    const auto lines = hooks.Lines();
    return std::count_if(lines.begin(), lines.end(), [](const auto& line) {
      return line.text.starts_with("UI [@x]: ") && line.text.ends_with(" refused for uid 65534");
    });
  };
  EXPECT_EQ(refusals(), 1);
  clock.Advance(1s);
  EXPECT_EQ(AsUser(kNobody, [&] { return Send(path, {"U @x http://evil.example/c"}) ? 0 : 1; }), 0);
  ASSERT_TRUE(Eventually([&] { return refusals() == 2; }));
  EXPECT_TRUE(Logged("UI [@x]: U refused for uid 65534"));
  const auto lines = hooks.Lines();
  EXPECT_EQ(
      std::count_if(lines.begin(), lines.end(),
                    [](const auto& line) { return line.text.find("polkit") != line.text.npos; }),
      1)
      << "polkit's absence is said once";
  EXPECT_TRUE(hooks.Writes().empty());
  EXPECT_TRUE(hooks.Logging().empty());
  EXPECT_TRUE(hooks.Proxies().empty());
  EXPECT_TRUE(hooks.Requests().empty());
  EXPECT_EQ(hooks.Replies().size(), 1u) << "the poll's answer only";
  // Root may.
  ASSERT_TRUE(Send(path, {"L @r 1 7"}));
  ASSERT_TRUE(Eventually([&] { return !hooks.Logging().empty(); }));
  EXPECT_EQ(hooks.Logging(), std::vector<std::string>{"1 7"});
  unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST_F(UnixTrustTest, PolkitDecidesForOtherUsers) {
  MockedSystemBus system("trust", "polkitd", "org.freedesktop.PolicyKit1");
  ASSERT_TRUE(system.Ready());
  hooks.platformAuthority = &polkit;
  Start();
  // Refused while polkit says no, as it does for a user without an active local session.
  EXPECT_EQ(AsUser(kNobody, [&] { return Send(path, {"L @x 1 7"}) ? 0 : 1; }), 0);
  ASSERT_TRUE(Eventually([&] { return Logged("UI [@x]: L refused for uid 65534"); }));
  ASSERT_GE(sd_bus_call_method(system.Bus(), "org.freedesktop.PolicyKit1",
                               "/org/freedesktop/PolicyKit1/Authority", kMock, "SetAllowed",
                               nullptr, nullptr, "as", 1, PolkitAuthority::kAction),
            0);
  EXPECT_EQ(AsUser(kNobody, [&] { return Send(path, {"L @x 1 9"}) ? 0 : 1; }), 0);
  ASSERT_TRUE(Eventually([&] { return !hooks.Logging().empty(); }));
  EXPECT_EQ(hooks.Logging(), std::vector<std::string>{"1 9"});
  // polkit was asked about the sending process, for our action, without interaction.
  const std::string calls = system.Calls();
  EXPECT_NE(calls.find("CheckAuthorization"), std::string::npos) << calls;
  EXPECT_NE(calls.find("org.pellux.uploader.configure"), std::string::npos) << calls;
  EXPECT_NE(calls.find("unix-process"), std::string::npos) << calls;
}

TEST_F(UnixTrustTest, APolkitThatHangsIsGivenUpOnAndRefuses) {
  MockedSystemBus system("hang", "polkitd", "org.freedesktop.PolicyKit1");
  ASSERT_TRUE(system.Ready());
  ASSERT_GE(sd_bus_call_method(system.Bus(), "org.freedesktop.PolicyKit1",
                               "/org/freedesktop/PolicyKit1/Authority", kMock, "SimulateHang",
                               nullptr, nullptr, "b", 1),
            0);
  std::string why;
  EXPECT_EQ(PolkitAuthority::Ask(UiSender::FromUnixCredentials(kNobody, kNobody, getpid()), why),
            PolkitAnswer::kUnavailable);
  EXPECT_NE(why.find("Timeout"), std::string::npos) << why;
}

// A sender that exits right after its message: its stat file, opened while it lived, fails to
// read (ESRCH). That is no start time, never an exception on the listener's thread.
TEST(PolkitStartTimeTest, ASenderGoneBetweenOpenAndReadGivesNoStartTime) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  std::ifstream living("/proc/" + std::to_string(child) + "/stat");
  std::ifstream gone("/proc/" + std::to_string(child) + "/stat");
  ASSERT_TRUE(living.is_open() && gone.is_open());
  EXPECT_GT(StartTimeFromStat(living), 0U);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(StartTimeFromStat(gone), 0U);
  std::istringstream cut("1234 (name with ) and blanks) S 1 2 3");
  EXPECT_EQ(StartTimeFromStat(cut), 0U);
  std::istringstream whole("77 (a b) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 424242 0");
  EXPECT_EQ(StartTimeFromStat(whole), 424242U);
}

TEST_F(UnixTrustTest, TheSameEndpointNamedByTwoUsersIsTwoContexts) {
  Start();
  EXPECT_EQ(AsUser(kNobody, [&] { return Send(path, {"S @shared setup"}) ? 0 : 1; }), 0);
  ASSERT_TRUE(Eventually([&] { return engine.Actions().size() == 1; }));
  EXPECT_EQ(AsUser(kSecondUser, [&] { return Send(path, {"F @shared password=x"}) ? 0 : 1; }), 0);
  ASSERT_TRUE(Eventually([&] { return engine.Actions().size() == 2; }));
  const auto actions = engine.Actions();
  EXPECT_NE(actions[0].context, actions[1].context);
  EXPECT_EQ(actions[0].context->sender.uid, kNobody);
  EXPECT_EQ(actions[1].context->sender.uid, kSecondUser);
  EXPECT_EQ(engine.SessionContext(), actions[0].context)
      << "the engine refuses the form of anyone but the session's owner";
}

TEST_F(UnixTrustTest, SilentConnectionsOfOneUserDelayNobodyElse) {
  Start();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(100);
    }
    // Twenty connections that never send a byte, opened again as the listener drops them.
    std::vector<UnixSocket> silent;
    const auto until = In(4s);
    bool told = false;
    while (std::chrono::steady_clock::now() < until) {
      while (silent.size() < 20) {
        bool missing = false;
        std::string error;
        auto socket = UnixSocket::Connect(path, missing, error);
        if (socket) silent.push_back(std::move(*socket));
      }
      if (!told) {
        const char byte = 1;
        told = write(ready[1], &byte, 1) == 1;
      }
      std::this_thread::sleep_for(50ms);
      // Those the listener let go of read as ended.
      std::erase_if(silent, [](const UnixSocket& socket) {
        pollfd ended{socket.Descriptor(), POLLIN | POLLRDHUP, 0};
        return poll(&ended, 1, 0) == 1;
      });
    }
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  for (int poll = 0; poll < 10; ++poll) {
    const std::size_t before = hooks.Replies().size();
    ASSERT_TRUE(Send(path, {"T @root-" + std::to_string(poll)}));
    EXPECT_TRUE(Eventually([&] { return hooks.Replies().size() > before; }, 1s)) << "poll " << poll;
    std::this_thread::sleep_for(200ms);
  }
  int status = 0;
  waitpid(holder, &status, 0);
  EXPECT_TRUE(
      Logged("UI: Dropping a connection from uid 65534: 4 of its connections and 4 in "
             "all are open (at most 4 and 64)"));
}

TEST_F(UnixTrustTest, TenThousandStatusRunsAreAllAnswered) {
  Start();
  for (int run = 0; run < 10000; ++run) {
    ASSERT_TRUE(Send(path, {"T @pelluxctl-0-" + std::to_string(run)}));
    if (run % 1000 == 999) {
      // A thousand connections may wait in the backlog of a listener slowed by a sanitizer and a
      // loaded machine: the bound is generous, the count exact.
      ASSERT_TRUE(Eventually([&] { return hooks.Replies().size() == std::size_t(run) + 1; }, 60s))
          << hooks.Replies().size() << " replies after " << run + 1 << " runs; last line: "
          << (hooks.Lines().empty() ? std::string() : hooks.Lines().back().text);
    }
  }
  EXPECT_EQ(hooks.Replies().size(), 10000u);
  EXPECT_LE(hooks.endpoints.Size(), ReplyEndpoints::kMaxPerUser);
}

// ---------------------------------------------------------------------------------------------
// The socket file

TEST_F(UnixTrustTest, ALiveSocketIsNeverTakenOverAStaleOneIsAndOnlyOurOwnFileIsRemoved) {
  Start();
  const auto log = [](const std::string&, int) {};
  UnixPipeServer second(path, log, {});
  EXPECT_FALSE(second.Start([](const UiSender&, const std::string&) {}));
  EXPECT_TRUE(second.FoundBusy());
  ASSERT_TRUE(Send(path, {"T @still-here"}));
  EXPECT_TRUE(Eventually([&] { return hooks.Replies().size() == 1; }))
      << "the running listener still has its socket";
  pipe->Stop();
  EXPECT_FALSE(std::filesystem::exists(path)) << "its own file goes at Stop";

  // A socket left by a process that has gone is replaced.
  {
    std::string error;
    bool busy = false;
    auto gone = UnixSocket::Listen(path, 0, busy, error);
    ASSERT_TRUE(gone) << error;
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  UnixPipeServer third(path, log, {});
  ASSERT_TRUE(third.Start([](const UiSender&, const std::string&) {}));
  // Somebody else's socket took the path meanwhile: it is left where it is.
  ASSERT_EQ(unlink(path.c_str()), 0);
  std::string error;
  bool busy = false;
  auto other = UnixSocket::Listen(path, 0, busy, error);
  ASSERT_TRUE(other) << error;
  third.Stop();
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_TRUE(UnixSocket::Answers(path));
}

TEST_F(UnixTrustTest, TheSocketsModeIsGivenBeforeTheBindWhateverTheUmask) {
  const mode_t old = umask(077);
  Start();
  umask(old);
  struct stat status {};
  ASSERT_EQ(lstat(path.c_str(), &status), 0);
  EXPECT_TRUE(S_ISSOCK(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0666u);
  // And so another user reaches it.
  EXPECT_EQ(AsUser(kNobody, [&] { return Send(path, {"T @nobody"}) ? 0 : 1; }), 0);
  EXPECT_TRUE(Eventually([&] { return hooks.Replies().size() == 1; }));
}

}  // namespace
}  // namespace Pellux
