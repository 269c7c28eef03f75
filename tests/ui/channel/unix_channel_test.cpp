// The Linux UI channel on real Unix sockets in a temporary folder: what only the socket listener
// has (its mode, the sender it records), and the reply channel against missing endpoints and
// endpoints of another user. The listener's contract is tested for both platforms beside.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/log_level.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_pipe_hooks.h"
#include "tests/support/recording_session_control.h"
#include "tests/support/waited_texts.h"
#include "ui/channel/service_pipe.h"
#include "ui/channel/unix_pipe_server_linux.h"
#include "ui/channel/unix_reply_channel_linux.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

// This process, as the listener reports the messages it writes.
UiSender Me() {
  return UiSender::FromUnixCredentials(geteuid(), getegid(), static_cast<std::uint32_t>(getpid()));
}

using namespace std::chrono_literals;

constexpr std::uint32_t kNobody = 65534;

std::chrono::steady_clock::time_point In(std::chrono::milliseconds duration) {
  return std::chrono::steady_clock::now() + duration;
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/pellux-ui-XXXXXX";
    path = mkdtemp(pattern);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::string path;
};

// Writes `text` as one message (and half-closes), as a UI does.
void SendMessage(const std::string& endpoint, const std::string& text) {
  bool missing = false;
  std::string error;
  auto socket = UnixSocket::Connect(endpoint, missing, error);
  ASSERT_TRUE(socket) << error;
  socket->WriteAll(text, In(5s), error);
  socket->ShutdownWrite(error);
}

class UnixListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = folder.path + "/service.sock";
    server = std::make_unique<UnixPipeServer>(
        path, [this](const std::string& line, int level) { lines.Add(line, level); },
        UnixPipeServer::Limits{.idleTimeout = 200ms, .clientTimeout = 200ms});
    ASSERT_TRUE(server->Start([this](const UiSender& sender, const std::string& message) {
      std::lock_guard guard(mutex);
      messages.push_back(message);
      senders.push_back(sender);
      arrived.notify_all();
    }));
  }
  void TearDown() override { server->Stop(); }

  bool WaitForMessages(std::size_t count) {
    std::unique_lock guard(mutex);
    return arrived.wait_for(guard, 5s, [&] { return messages.size() >= count; });
  }

  TempFolder folder;
  std::string path;
  Lines lines;
  std::unique_ptr<UnixPipeServer> server;
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> messages;
  std::vector<UiSender> senders;
};

TEST_F(UnixListenerTest, SocketIsOpenToLocalUsersAndRecordsWhoSentEachMessage) {
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_TRUE(S_ISSOCK(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0666u);

  SendMessage(path, "S @ui setup");
  ASSERT_TRUE(WaitForMessages(1));
  std::lock_guard guard(mutex);
  EXPECT_EQ(senders[0], Me());
  EXPECT_EQ(senders[0].user, "uid " + std::to_string(geteuid()));
  EXPECT_TRUE(lines.All().empty());
}

TEST(UnixServicePipe, MalformedMessagesOverTheSocketAreLoggedAndTheNextOneIsAnswered) {
  TempFolder folder;
  const std::string path = folder.path + "/service.sock";
  VirtualClock clock;
  RecordingSessionControl engine;
  RecordingPipeHooks hooks;
  ServicePipe pipe(
      engine, hooks, clock,
      std::make_unique<UnixPipeServer>(
          path, [&](const std::string& line, int level) { hooks.Log(line, level, kNoContext); },
          UnixPipeServer::Limits{}));
  ASSERT_TRUE(pipe.Start());
  for (const char* message : {"L @ui x 7", "P @ui 1 . 0 0 . . %", "Q @ui", "", "T @ui"}) {
    SendMessage(path, message);
  }
  const auto until = In(5s);
  while (hooks.Replies().empty() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(1ms);
  }
  pipe.Stop();
  ASSERT_EQ(hooks.Replies().size(), 1u);
  EXPECT_EQ(hooks.Replies()[0].text, "0 0");
  EXPECT_EQ(hooks.Replies()[0].context, pipe.ContextFor(Me(), "@ui"));
  std::vector<std::string> ignored;
  for (const auto& line : hooks.Lines()) {
    if (line.level == LogLevel::kIgnored) ignored.push_back(line.text);
  }
  // The listener's own line comes when it reads; the pipe's come as it handles the messages.
  std::sort(ignored.begin(), ignored.end());
  EXPECT_EQ(ignored, (std::vector<std::string>{
                         "UI: Ignoring a connection from uid 0 that sent nothing",
                         "UI: Ignoring a logging message without two integers: L @ui x 7",
                         "UI: Ignoring a proxy message (a '%' without two hexadecimal digits "
                         "after it): P @ui 1 . 0 0 . . %",
                         "UI: unknown message: Q @ui",
                     }));
  EXPECT_TRUE(hooks.Logging().empty());
  EXPECT_TRUE(hooks.Writes().empty());
}

TEST(UnixListenerSetup, DefaultPathAndWhatItRefuses) {
  unsetenv("RUNTIME_DIRECTORY");
  EXPECT_EQ(UnixPipeServer::DefaultPath(), "/run/pellux/service.sock");
  setenv("RUNTIME_DIRECTORY", "/run/pellux-test:/run/other", 1);
  EXPECT_EQ(UnixPipeServer::DefaultPath(), "/run/pellux-test/service.sock");
  unsetenv("RUNTIME_DIRECTORY");

  TempFolder folder;
  const std::string file = folder.path + "/not-a-socket";
  std::ofstream(file) << "text";
  Lines lines;
  UnixPipeServer server(file, [&](const std::string& line, int level) { lines.Add(line, level); },
                        {});
  EXPECT_FALSE(server.Start([](const UiSender&, const std::string&) {}));
  ASSERT_EQ(lines.All().size(), 1u);
  EXPECT_EQ(lines.All()[0].rfind("6 UI: Cannot listen for UI messages: lstat(", 0), 0u);
  EXPECT_EQ(access(file.c_str(), F_OK), 0) << "the file is left as it was";
  EXPECT_FALSE(UnixSocket::IsValidName(std::string(108, 'a')));
  EXPECT_FALSE(UnixSocket::IsValidName("@"));
  EXPECT_FALSE(UnixSocket::IsValidName(""));
}

// ---------------------------------------------------------------------------------------------
// The reply channel

class UnixReplyChannelTest : public ::testing::Test {
 protected:
  UnixReplyChannel Channel(std::chrono::milliseconds timeout = 1000ms) {
    return UnixReplyChannel([this](const std::string& line, int level) { lines.Add(line, level); },
                            timeout);
  }

  // Reads the one message that arrives at `listener`.
  static std::string Receive(UnixSocket& listener) {
    std::string error;
    auto client = listener.Accept(-1, In(2s), error);
    if (!client) return "(nothing: " + error + ")";
    std::string text;
    client->ReadAll(kMaxUiReplyBytes, -1, In(2s), text, error);
    return text;
  }

  // The endpoint `name` as a message of `uid` would have named it.
  static ReplyEndpoint NamedBy(const std::string& name, std::uint32_t uid) {
    return ReplyEndpoint{name, UiSender::FromUnixCredentials(uid, uid, 1)};
  }

  TempFolder folder;
  Lines lines;
};

TEST_F(UnixReplyChannelTest, DeliversToTheUserWhoNamedTheEndpoint) {
  for (const std::string& name :
       {folder.path + "/ui.sock", "@pellux-test-reply-" + std::to_string(getpid())}) {
    SCOPED_TRACE(name);
    std::string error;
    bool busy = false;
    auto listener = UnixSocket::Listen(name, 0, busy, error);
    ASSERT_TRUE(listener) << error;
    const ReplyEndpoint endpoint = NamedBy(name, geteuid());
    auto channel = Channel();
    EXPECT_TRUE(channel.Send("H-1 -1 <p>page</p>", &endpoint));
    EXPECT_EQ(Receive(*listener), "H-1 -1 <p>page</p>");
  }
  EXPECT_TRUE(lines.All().empty());
}

TEST_F(UnixReplyChannelTest, OnlyAMissingEndpointIsAFailure) {
  auto channel = Channel();
  EXPECT_TRUE(channel.Send("T0 0", kNoContext)) << "the service's own context names nobody";
  const std::string stale = folder.path + "/stale.sock";
  {
    std::string error;
    bool busy = false;
    auto gone = UnixSocket::Listen(stale, 0, busy, error);  // its file stays behind once closed
    ASSERT_TRUE(gone) << error;
  }
  for (const std::string& name :
       {folder.path + "/none.sock", stale, "@pellux-test-none-" + std::to_string(getpid()),
        std::string(200, 'x')}) {
    SCOPED_TRACE(name);
    const ReplyEndpoint endpoint = NamedBy(name, geteuid());
    EXPECT_FALSE(channel.Send("T0 0", &endpoint));
  }
  EXPECT_TRUE(lines.All().empty());
}

TEST_F(UnixReplyChannelTest, AnEndpointOfAnotherUserGetsNothing) {
  ASSERT_EQ(geteuid(), 0u) << "the test plays two users, so it runs as root";
  const std::string name = "@pellux-test-other-" + std::to_string(getpid());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Only system calls from here: another thread of the parent may hold a lock.
    if (setuid(kNobody) != 0) _exit(10);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data() + 1, name.size() - 1);
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
      _exit(11);
    }
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(12);
    pollfd wait{fd, POLLIN, 0};
    if (poll(&wait, 1, 5000) != 1) _exit(13);
    const int client = accept(fd, nullptr, nullptr);
    char buffer[64];
    const ssize_t got = read(client, buffer, sizeof buffer);
    _exit(got == 0 ? 0 : 14);  // connected, but not one byte came
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);

  const ReplyEndpoint endpoint = NamedBy(name, 0);
  auto channel = Channel();
  EXPECT_TRUE(channel.Send("H-1 -1 <p>secret</p>", &endpoint));
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(lines.All(),
            (std::vector<std::string>{"7 UI: Not replying to " + name +
                                      ": it is listened on by uid 65534, but the messages "
                                      "naming it came from uid 0"}));
}

TEST_F(UnixReplyChannelTest, RootsEndpointIsRootsAloneAndASlowReaderLosesItsMessage) {
  ASSERT_EQ(geteuid(), 0u) << "root listens here";
  const std::string name = folder.path + "/ui.sock";
  std::string error;
  bool busy = false;
  auto listener = UnixSocket::Listen(name, 0, busy, error);
  ASSERT_TRUE(listener) << error;
  // A message of nobody's naming root's endpoint: the service writes nothing there.
  const ReplyEndpoint byNobody = NamedBy(name, kNobody);
  auto channel = Channel(100ms);
  EXPECT_TRUE(channel.Send("IStatus", &byNobody));
  EXPECT_EQ(lines.All(), (std::vector<std::string>{
                             "7 UI: Not replying to " + name +
                             ": it is listened on by uid 0, but the messages naming it came from "
                             "uid 65534"}));
  EXPECT_EQ(Receive(*listener), "") << "connected to learn who listens, and wrote nothing";
  lines.Clear();
  const ReplyEndpoint byRoot = NamedBy(name, 0);
  EXPECT_TRUE(channel.Send("IStatus", &byRoot));
  EXPECT_EQ(Receive(*listener), "IStatus");

  // Nobody reads: the write gives up at its deadline, and the send still counts as delivered.
  EXPECT_TRUE(channel.Send("H-1 -1 " + std::string(16 << 20, 'p'), &byRoot));
  const auto all = lines.All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(
      all[0].rfind("6 UI: Replying to " + name + " failed: send: the reader took none of ", 0), 0u);
}

}  // namespace
}  // namespace Pellux
