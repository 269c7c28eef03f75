// The Windows UI channel on real named pipes under Wine: what only the named pipe listener has
// (its mode, instances and descriptor), and the reply channel against missing, busy, slow and
// foreign reply pipes. The listener's contract is tested for both platforms beside.

#include <gtest/gtest.h>
#include <windows.h>

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
  void SetUp() override { StartServer(200ms); }
  void TearDown() override { server->Stop(); }

  void StartServer(std::chrono::milliseconds clientTimeout) {
    if (server) server->Stop();
    server = std::make_unique<NamedPipeServer>(
        name, [this](const std::string& line, int level) { lines.Add(line, level); },
        NamedPipeServer::Limits{clientTimeout, kMaxUiMessageBytes});
    ASSERT_TRUE(server->Start(
        [this](const UiSender& /*sender*/, const std::string& message) { messages.Add(message); }));
  }

  const std::string name = UniquePipeName("listener");
  Lines lines;
  Messages messages;
  std::unique_ptr<NamedPipeServer> server;
};

TEST_F(NamedPipeListenerTest, OneInstanceInMessageModeWithTheBuffersOfTheService) {
  DWORD flags = 0;
  DWORD outBytes = 0;
  DWORD inBytes = 0;
  DWORD instances = 0;
  ASSERT_NE(GetNamedPipeInfo(server->PipeHandle(), &flags, &outBytes, &inBytes, &instances), 0);
  EXPECT_EQ(flags, static_cast<DWORD>(PIPE_TYPE_MESSAGE | PIPE_SERVER_END));
  EXPECT_EQ(outBytes, 1024u);
  EXPECT_EQ(inBytes, 1024u);
  EXPECT_EQ(instances, 1u) << "one instance, so nobody listens beside the service";
}

TEST_F(NamedPipeListenerTest, PipeAllowsLocalUsersOnly) {
  std::string failure;
  const std::string dacl = LocalPipeSecurity::DaclOf(server->PipeHandle(), failure);
  ASSERT_TRUE(failure.empty()) << failure;
  // The system writes the read and write rights in an order of its own: compare the entries.
  const std::vector<std::string> entries = {"(D;;GA;;;NU)", "(D;;GA;;;AN)", "(A;;GA;;;SY)",
                                            "(A;;GA;;;BA)"};
  EXPECT_EQ(dacl.rfind("D:P(D;;GA;;;NU)(D;;GA;;;AN)(A;;", 0), 0u) << dacl;
  for (const std::string& entry : entries) {
    EXPECT_NE(dacl.find(entry), std::string::npos) << entry << " in " << dacl;
  }
  EXPECT_TRUE(dacl.find("(A;;GRGW;;;AU)") != std::string::npos ||
              dacl.find("(A;;GWGR;;;AU)") != std::string::npos)
      << dacl;
  EXPECT_EQ(dacl.size(), std::string(LocalPipeSecurity::kSddl).size()) << "no other entries";
  EXPECT_EQ(dacl.find("WD"), std::string::npos) << "nothing for everyone";
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
  // Nor an instance made without the first-instance flag.
  HANDLE beside = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE,
                                   PIPE_UNLIMITED_INSTANCES, 1024, 1024, 0, nullptr);
  EXPECT_EQ(beside, INVALID_HANDLE_VALUE);
  if (beside != INVALID_HANDLE_VALUE) CloseHandle(beside);
  // The listener still serves.
  ASSERT_TRUE(WriteMessage(name, "X \\\\.\\pipe\\ui"));
  ASSERT_TRUE(messages.WaitFor(1)) << ::testing::PrintToString(lines.All());
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
