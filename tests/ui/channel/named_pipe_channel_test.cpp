// The Windows UI channel on real named pipes under Wine: what only the named pipe listener has
// (its mode, instances and descriptor), and the reply channel against missing, busy, slow and
// foreign reply pipes. The listener's contract is tested for both platforms beside.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_level.h"
#include "tests/ui/channel/named_pipe_test_support_win.h"
#include "ui/channel/local_pipe_security_win.h"
#include "ui/channel/named_pipe_reply_channel_win.h"
#include "ui/channel/named_pipe_server_win.h"
#include "ui/channel/pipe_client_sender_win.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

class NamedPipeListenerTest : public ::testing::Test {
 protected:
  void SetUp() override { StartServer({.idleTimeout = 200ms, .clientTimeout = 200ms}); }
  void TearDown() override { server->Stop(); }

  void StartServer(
      NamedPipeServer::Limits limits, std::function<void()> onMessage = [] {}) {
    if (server) server->Stop();
    server = std::make_unique<NamedPipeServer>(
        name, [this](const std::string& line, int level) { lines.Add(line, level); }, limits);
    ASSERT_TRUE(
        server->Start([this, onMessage](const UiSender& sender, const std::string& message) {
          senders.push_back(sender);
          messages.Add(message);
          onMessage();
        }));
  }
  std::size_t LinesStartingWith(const std::string& start) const {
    std::size_t count = 0;
    for (const std::string& line : lines.All()) count += line.rfind(start, 0) == 0 ? 1 : 0;
    return count;
  }

  const std::string name = UniquePipeName("listener");
  Lines lines;
  Messages messages;
  // Written by the listener thread only, read once it is stopped.
  std::vector<UiSender> senders;
  std::unique_ptr<NamedPipeServer> server;
};

// A client that connects and writes nothing (reading too, so that LetGo may look);
// INVALID_HANDLE_VALUE at once when no instance is free for it.
HANDLE ConnectSilently(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

// Whether the listener has let the client of `pipe` go.
bool LetGo(HANDLE pipe) {
  DWORD waiting = 0;
  return PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) == 0;
}

TEST_F(NamedPipeListenerTest, EightInstancesInMessageModeWithTheBuffersOfTheService) {
  DWORD flags = 0;
  DWORD outBytes = 0;
  DWORD inBytes = 0;
  DWORD limit = 0;
  ASSERT_NE(GetNamedPipeInfo(server->PipeHandle(), &flags, &outBytes, &inBytes, &limit), 0);
  EXPECT_EQ(flags, static_cast<DWORD>(PIPE_TYPE_MESSAGE | PIPE_SERVER_END));
  EXPECT_EQ(outBytes, 1024u);
  EXPECT_EQ(inBytes, 1024u);
  EXPECT_EQ(limit, 8u) << "the limit is the instances the service made";
  DWORD instances = 0;
  ASSERT_NE(GetNamedPipeHandleStateA(server->PipeHandle(), nullptr, &instances, nullptr, nullptr,
                                     nullptr, 0),
            0);
  EXPECT_EQ(instances, 8u) << "all made up front, so nobody can add one beside them";
}

TEST(NamedPipeReplyPipeSecurity, OnlyTheServiceAdministratorsAndThisUserMayWrite) {
  std::string failure;
  const std::string sddl = LocalPipeSecurity::ServiceAndUserSddl(failure);
  ASSERT_TRUE(failure.empty()) << failure;
  EXPECT_EQ(sddl.rfind("D:P(D;;GA;;;NU)(D;;GA;;;AN)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;S-1-5-", 0), 0u)
      << sddl;
  NamedPipeServer own(
      UniquePipeName("own"), [](const std::string&, int) {}, {}, sddl);
  ASSERT_TRUE(own.Start([](const UiSender&, const std::string&) {}));
  const std::string dacl = LocalPipeSecurity::DaclOf(own.PipeHandle(), failure);
  EXPECT_EQ(dacl, sddl) << failure;
  EXPECT_EQ(dacl.find("AU"), std::string::npos) << "not every user";
  // A malformed list is refused with the system's words, and nothing listens.
  Lines lines;
  NamedPipeServer broken(
      UniquePipeName("broken"), [&](const std::string& line, int level) { lines.Add(line, level); },
      {}, "D:(nonsense)");
  EXPECT_FALSE(broken.Start([](const UiSender&, const std::string&) {}));
  ASSERT_EQ(lines.All().size(), 1u);
  EXPECT_EQ(
      lines.All()[0].rfind("6 UI: Cannot listen for UI messages: "
                           "ConvertStringSecurityDescriptorToSecurityDescriptorA(D:(nonsense)) "
                           "failed: error ",
                           0),
      0u)
      << lines.All()[0];
}

TEST_F(NamedPipeListenerTest, NobodyElseListensUnderItsName) {
  NamedPipeServer second(
      name, [this](const std::string& line, int level) { lines.Add(line, level); }, {});
  EXPECT_FALSE(second.Start([](const UiSender&, const std::string&) {}));
  ASSERT_EQ(lines.All().size(), 1u);
  EXPECT_EQ(
      lines.All()[0].rfind(
          "6 UI: Cannot listen for UI messages: CreateNamedPipeA(" + name + ") failed: error ", 0),
      0u)
      << lines.All()[0];
  EXPECT_EQ("6 UI: Cannot listen for UI messages: " + second.StartFailure(), lines.All()[0]);
  // Nor an instance made without the first-instance flag, whatever limit it names.
  for (const DWORD limit : {DWORD{8}, DWORD{PIPE_UNLIMITED_INSTANCES}}) {
    HANDLE beside = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, limit,
                                     1024, 1024, 0, nullptr);
    EXPECT_EQ(beside, INVALID_HANDLE_VALUE) << limit;
    if (beside != INVALID_HANDLE_VALUE) CloseHandle(beside);
  }
  // The listener still serves.
  ASSERT_TRUE(WriteMessage(name, "X \\\\.\\pipe\\ui"));
  ASSERT_TRUE(messages.WaitFor(1)) << ::testing::PrintToString(lines.All());
}

// Someone who made the pipe first keeps it, whatever instance limit he gave it: Windows refuses
// the first-instance flag then; Wine does not (it refuses only instances past the limit of who
// made the pipe), and the listener sees the stranger's limit instead.
TEST(NamedPipeListenerSquatter, APipeSomeoneMadeFirstIsRefusedAndNothingOfOursStays) {
  for (const DWORD limit : {DWORD{1}, DWORD{8}, DWORD{PIPE_UNLIMITED_INSTANCES}}) {
    SCOPED_TRACE(limit);
    const std::string name = UniquePipeName("squatted");
    HANDLE squatter = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, limit,
                                       1024, 1024, 0, nullptr);
    ASSERT_NE(squatter, INVALID_HANDLE_VALUE);
    Lines lines;
    NamedPipeServer server(name,
                           [&](const std::string& line, int level) { lines.Add(line, level); }, {});
    EXPECT_FALSE(server.Start([](const UiSender&, const std::string&) {}));
    ASSERT_EQ(lines.All().size(), 1u);
    const std::string line = lines.All()[0];
    EXPECT_EQ(line, "6 UI: Cannot listen for UI messages: " + server.StartFailure());
    // The limit as the system reports it: "unlimited" is no number of ours.
    const std::string madeFirst =
        "6 UI: Cannot listen for UI messages: " + name + " was made by another process first";
    EXPECT_TRUE(line.rfind("6 UI: Cannot listen for UI messages: CreateNamedPipeA(" + name +
                               ") failed: error ",
                           0) == 0 ||
                (line.rfind(madeFirst, 0) == 0 && line.ends_with(" instances, not 8)")))
        << line;
    CloseHandle(squatter);
    // Nothing of the refused listener is left under the name.
    EXPECT_EQ(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Once the name is free, the same listener takes it.
    EXPECT_TRUE(server.Start([](const UiSender&, const std::string&) {}));
    EXPECT_TRUE(server.StartFailure().empty());
  }
}

TEST_F(NamedPipeListenerTest, TwentySilentConnectionsDelayNobody) {
  StartServer({});  // the service's limits: idle 500 ms, 4 waiting connections per user
  std::atomic<bool> holding{true};
  std::atomic<int> opened{0};
  // Twenty connections that never send a byte, opened again as the listener lets them go.
  std::thread holder([&] {
    std::vector<HANDLE> silent;
    while (holding.load()) {
      while (silent.size() < 20) {
        const HANDLE pipe = ConnectSilently(name);
        if (pipe == INVALID_HANDLE_VALUE) break;  // every instance is busy: next round
        silent.push_back(pipe);
        ++opened;
      }
      std::this_thread::sleep_for(20ms);
      std::erase_if(silent, [](HANDLE pipe) { return LetGo(pipe) && CloseHandle(pipe); });
    }
    for (const HANDLE pipe : silent) CloseHandle(pipe);
  });
  // Past the limit of the user's waiting connections before the first poll.
  while (opened.load() < 20) std::this_thread::sleep_for(5ms);
  const auto start = std::chrono::steady_clock::now();
  for (int poll = 0; poll < 10; ++poll) {
    const std::string text = "T \\\\.\\pipe\\ui-" + std::to_string(poll);
    ASSERT_TRUE(WriteMessage(name, text)) << "poll " << poll;
    EXPECT_TRUE(messages.WaitFor(static_cast<std::size_t>(poll) + 1, 1s)) << "poll " << poll;
    EXPECT_EQ(messages.At(static_cast<std::size_t>(poll)), text);
    std::this_thread::sleep_for(200ms);
  }
  holding.store(false);
  holder.join();
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
  std::string error;
  const auto me = ProcessSender(GetCurrentProcessId(), error);
  ASSERT_TRUE(me) << error;
  // Told at most once a second, though connections over the limit came all the time.
  const std::size_t busy = LinesStartingWith("7 UI: Dropping a connection from " + me->user +
                                             ": 4 of its connections are waiting (at most 4)");
  EXPECT_GE(busy, 1u) << ::testing::PrintToString(lines.All());
  EXPECT_LE(busy, static_cast<std::size_t>(seconds.count()) + 1)
      << ::testing::PrintToString(lines.All());
  EXPECT_GE(LinesStartingWith("7 UI: Giving up on a client (" + me->user +
                              ") that sent nothing more within 500 ms (0 bytes read)"),
            1u);
}

TEST_F(NamedPipeListenerTest, AUsersFifthWaitingConnectionIsLetGoAtOnce) {
  StartServer({.idleTimeout = 30s, .clientTimeout = 30s});
  std::vector<HANDLE> silent;
  const auto connect = [&] {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
      pipe = ConnectSilently(name);
      if (pipe == INVALID_HANDLE_VALUE) WaitNamedPipeA(name.c_str(), 100);
    }
    return pipe;
  };
  for (int i = 0; i < 4; ++i) {
    silent.push_back(connect());
    ASSERT_NE(silent.back(), INVALID_HANDLE_VALUE);
  }
  const HANDLE fifth = connect();
  ASSERT_NE(fifth, INVALID_HANDLE_VALUE);
  const auto until = std::chrono::steady_clock::now() + 5s;
  while (!LetGo(fifth) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(LetGo(fifth)) << "dropped long before its time-outs";
  CloseHandle(fifth);
  for (const HANDLE pipe : silent) {
    EXPECT_FALSE(LetGo(pipe)) << "the first four still wait";
  }
  // Whole messages of the same user still come through.
  ASSERT_TRUE(WriteMessage(name, "T \\\\.\\pipe\\ui"));
  ASSERT_TRUE(messages.WaitFor(1)) << ::testing::PrintToString(lines.All());
  for (const HANDLE pipe : silent) CloseHandle(pipe);
}

TEST_F(NamedPipeListenerTest, OneClientsMessagesWrittenBackToBackArriveInOrder) {
  // A slow handler lets the next messages pile up behind the one it handles.
  StartServer({}, [] { std::this_thread::sleep_for(2ms); });
  std::vector<std::string> sent;
  for (int n = 0; n < 60; ++n) {
    sent.push_back("T \\\\.\\pipe\\ui-" + std::to_string(n));
    ASSERT_TRUE(WriteMessage(name, sent.back()));
  }
  ASSERT_TRUE(messages.WaitFor(sent.size())) << ::testing::PrintToString(lines.All());
  EXPECT_EQ(messages.All(), sent);
  EXPECT_TRUE(lines.All().empty()) << ::testing::PrintToString(lines.All());
}

TEST_F(NamedPipeListenerTest, EachMessageGoesOnWithItsSendersToken) {
  ASSERT_TRUE(WriteMessage(name, "T \\\\.\\pipe\\ui"));
  ASSERT_TRUE(messages.WaitFor(1));
  server->Stop();
  std::string error;
  const auto me = ProcessSender(GetCurrentProcessId(), error);
  ASSERT_TRUE(me) << error;
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0], *me);
}

// ---------------------------------------------------------------------------------------------
// The reply channel

TEST(NamedPipeReplyNames, OnlyPipesOfThisMachineAreAccepted) {
  const struct {
    std::string name;
    bool local;
  } cases[] = {
      {"\\\\.\\pipe\\Pellux", true},
      {"\\\\.\\PIPE\\pellux-ui-42", true},
      {"\\\\.\\Pipe\\a.b c", true},
      {"\\\\.\\pipe\\" + std::string(247, 'n'), true},
      {"\\\\.\\pipe\\" + std::string(248, 'n'), false},
      {"\\\\host\\pipe\\x", false},
      {"\\\\.\\pipe\\a\\b", false},
      {"\\\\.\\pipe\\a/b", false},
      {"\\\\.\\pipe\\", false},
      {"\\\\.\\pipe\\a\tb", false},
      {"\\\\.\\mailslot\\x", false},
      {"\\\\?\\pipe\\x", false},
      {"C:\\x", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NamedPipeReplyChannel::IsLocalPipeName(c.name), c.local) << c.name;
  }
}

class NamedPipeReplyChannelTest : public ::testing::Test {
 protected:
  NamedPipeReplyChannel Channel(std::chrono::milliseconds timeout = 1000ms) {
    return NamedPipeReplyChannel(
        [this](const std::string& line, int level) { lines.Add(line, level); }, timeout);
  }
  // The endpoint `name` as a message of this process would have named it.
  Context Mine(const std::string& name) {
    std::string error;
    const auto me = ProcessSender(GetCurrentProcessId(), error);
    endpoints.push_back(ReplyEndpoint{name, me ? *me : UiSender{}});
    return &endpoints.back();
  }

  Lines lines;
  std::deque<ReplyEndpoint> endpoints;
};

TEST_F(NamedPipeReplyChannelTest, DeliversEachMessageWholeToALocalPipe) {
  ReplyPipe ui(UniquePipeName("reply"));
  auto channel = Channel();
  const std::string page = "H-1 -1 " + std::string(100000, 'p');
  EXPECT_TRUE(channel.Send("IConnecting...", Mine(ui.name)));
  EXPECT_TRUE(channel.Send(page, Mine(ui.name)));
  ASSERT_TRUE(ui.messages.WaitFor(2));
  EXPECT_EQ(ui.messages.At(0), "IConnecting...");
  EXPECT_EQ(ui.messages.At(1), page);
  // Back to back: the UI's one instance is busy between two messages, and each still arrives.
  for (int n = 0; n < 20; ++n) EXPECT_TRUE(channel.Send("I" + std::to_string(n), Mine(ui.name)));
  ASSERT_TRUE(ui.messages.WaitFor(22));
  EXPECT_EQ(ui.messages.At(21), "I19");
  EXPECT_TRUE(lines.All().empty());
}

TEST_F(NamedPipeReplyChannelTest, OnlyAMissingPipeIsAFailure) {
  auto channel = Channel();
  EXPECT_TRUE(channel.Send("T0 0", kNoContext)) << "the service's own context names nobody";
  const std::string missing = UniquePipeName("none");
  EXPECT_FALSE(channel.Send("T0 0", Mine(missing)));
  EXPECT_TRUE(lines.All().empty());
}

TEST_F(NamedPipeReplyChannelTest, ForeignNamesAreRefusedAndNothingIsSent) {
  ReplyPipe ui(UniquePipeName("foreign"));
  const std::string unc = "\\\\localhost\\pipe\\" + ui.name.substr(9);
  auto channel = Channel();
  for (const std::string& name :
       {unc, std::string("\\\\host\\pipe\\x"), std::string("\\\\.\\pipe\\a\\b"),
        std::string("C:\\x"), std::string(), ui.name + std::string(300, 'x')}) {
    EXPECT_TRUE(channel.Send("H-1 -1 <p>secret</p>", Mine(name))) << name;
  }
  const auto all = lines.All();
  ASSERT_EQ(all.size(), 6u);
  EXPECT_EQ(all[0], "7 UI: Not replying to " + unc + ": not a pipe of this machine");
  EXPECT_EQ(all[4], "7 UI: Not replying to : not a pipe of this machine");
  EXPECT_TRUE(channel.Send("T0 0", Mine(ui.name)));
  ASSERT_TRUE(ui.messages.WaitFor(1)) << ::testing::PrintToString(ui.lines.All());
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(ui.messages.All(), (std::vector<std::string>{"T0 0"}));
}

TEST_F(NamedPipeReplyChannelTest, AUiThatNeverReadsLosesItsMessageAfterTheTimeout) {
  const std::string name = UniquePipeName("deaf");
  // Listening, but never reading.
  HANDLE deaf =
      CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE,
                       1, 1024, 1024, 0, nullptr);
  ASSERT_NE(deaf, INVALID_HANDLE_VALUE);
  auto channel = Channel(100ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(channel.Send("H-1 -1 " + std::string(4 << 20, 'p'), Mine(name)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  CloseHandle(deaf);
  const auto all = lines.All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0], "6 UI: Replying to " + name +
                        " failed: the UI read none of 4194311 bytes within 100 ms");
}

}  // namespace
}  // namespace Pellux
