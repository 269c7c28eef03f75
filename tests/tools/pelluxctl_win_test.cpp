// pelluxctl on Windows: what only the named pipe channel has (its default names, the reply
// pipes it refuses) and whom it trusts to serve the service's pipe and to answer on its own.
// Under Wine every process runs as the same user, so a pipe served by another user cannot be
// made: the real pipes below are served by this process, and pelluxctl is told it runs as
// another user instead.

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <windows.h>

#include <string>

#include "tests/support/eventually.h"
#include "tests/tools/pelluxctl_fixture.h"
#include "tools/pelluxctl/service_trust_win.h"
#include "tools/pelluxctl/ui_connection.h"
#include "tools/pelluxctl/ui_connection_win.h"
#include "ui/channel/pipe_client_sender_win.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// A user that is not this process's.
constexpr const char* kOtherUser = "S-1-5-21-1111-2222-3333-1001";

std::string PipeName(const std::string& tag) {
  return "\\\\.\\pipe\\pelluxctl-test-" + tag + "-" + std::to_string(GetCurrentProcessId());
}

UiSender Me() {
  std::string error;
  const auto me = ProcessSender(GetCurrentProcessId(), error);
  EXPECT_TRUE(me) << error;
  return me ? *me : UiSender{};
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

TEST(PelluxctlServerTrust, TheServiceLocalSystemAndThisUserOnly) {
  const std::string me = "S-1-5-21-10-20-30-1000";
  const auto sender = [](std::string user, std::uint32_t pid, bool system, bool elevated) {
    UiSender server;
    server.user = std::move(user);
    server.pid = pid;
    server.system = system;
    server.elevatedAdministrator = elevated;
    return server;
  };
  const struct {
    const char* what;
    UiSender server;
    std::optional<std::uint32_t> servicePid;
    std::string ownUser;
    ServerTrust trust;
  } rows[] = {
      {"the service's process, whoever it runs as", sender("S-1-5-20", 700, false, false), 700, me,
       ServerTrust::kTheService},
      {"LocalSystem", sender("S-1-5-18", 4242, true, true), 700, me, ServerTrust::kLocalSystem},
      {"LocalSystem, the service not running", sender("S-1-5-18", 4242, true, true), std::nullopt,
       me, ServerTrust::kLocalSystem},
      {"this user, the service not running", sender(me, 5150, false, false), std::nullopt, me,
       ServerTrust::kThisUser},
      {"another user, the service another process",
       sender("S-1-5-21-9-9-9-1001", 5150, false, false), 700, me, ServerTrust::kNone},
      {"another user's elevated administrator", sender("S-1-5-21-9-9-9-500", 5150, false, true),
       700, me, ServerTrust::kNone},
      {"another user, the service not running", sender("S-1-5-21-9-9-9-1001", 5150, false, false),
       std::nullopt, me, ServerTrust::kNone},
      {"no process id matches a stopped service's 0",
       sender("S-1-5-21-9-9-9-1001", 0, false, false), 0, me, ServerTrust::kNone},
      {"an unknown own user matches nobody", sender("", 5150, false, false), std::nullopt, "",
       ServerTrust::kNone},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TrustOf(row.server, row.servicePid, row.ownUser), row.trust) << row.what;
  }
  EXPECT_EQ(UntrustedServerText(sender("S-1-5-21-9-9-9-1001", 5150, false, false)),
            "it is served by process 5150 of S-1-5-21-9-9-9-1001, not by the Pellux service, "
            "LocalSystem or this user");
}

// The service manager's answer, checked against the process list: Wine's PlugPlay service runs
// as plugplay.exe.
TEST(PelluxctlServerTrust, TheServiceManagerTellsTheRunningServicesProcess) {
  std::string error;
  EXPECT_EQ(RunningServiceProcess("PelluxNoSuchService", error), std::nullopt);
  EXPECT_EQ(error, "") << "a service that is not installed is no failure";
  std::optional<std::uint32_t> pid;
  ASSERT_TRUE(Eventually(
      [&] {
        pid = RunningServiceProcess("PlugPlay", error);
        return pid.has_value();
      },
      10s))
      << error;
  EXPECT_EQ(error, "");
  std::string image;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more != 0;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == *pid) image = entry.szExeFile;
  }
  CloseHandle(snapshot);
  EXPECT_EQ(image, "plugplay.exe") << *pid;
}

// A pipe this process serves, as another user's squatter would: the first instance of its name.
// A client needs no listen of its to connect.
class SquattedPipe {
 public:
  explicit SquattedPipe(std::string pipeName)
      : name(std::move(pipeName)),
        pipe(CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX,
                              PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 65536, 65536, 0,
                              nullptr)) {}
  SquattedPipe(const SquattedPipe&) = delete;
  SquattedPipe& operator=(const SquattedPipe&) = delete;
  ~SquattedPipe() { CloseHandle(pipe); }

  // What the gone client wrote: empty, with ERROR_BROKEN_PIPE in `code`, when it wrote nothing.
  std::string Received(DWORD& code) {
    std::string text(65536, '\0');
    DWORD read = 0;
    code = ReadFile(pipe, text.data(), static_cast<DWORD>(text.size()), &read, nullptr) != 0
               ? 0
               : GetLastError();
    text.resize(read);
    return text;
  }

  const std::string name;
  const HANDLE pipe;
};

TEST_F(PelluxctlTest, NothingIsWrittenToAPipeServedByAnotherUser) {
  std::string error;
  const UiSender me = Me();

  // Run as the user that serves it, pelluxctl writes there: such a pipe would receive.
  SquattedPipe own(PipeName("own"));
  ASSERT_NE(own.pipe, INVALID_HANDLE_VALUE);
  options.service = own.name;
  connection.reset();
  connection = OpenNamedPipeConnection(own.name, reply, me.user, error);
  ASSERT_NE(connection, nullptr) << error;
  options.command = PelluxctlOptions::Command::kRefresh;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  DWORD code = 0;
  EXPECT_EQ(own.Received(code), JoinUiMessage(UiCode::kRefresh, reply, ""));

  // As another user, nothing goes there, a session's form with a password least of all.
  SquattedPipe squatter(PipeName("squatted"));
  ASSERT_NE(squatter.pipe, INVALID_HANDLE_VALUE);
  options.service = squatter.name;
  connection.reset();
  connection = OpenNamedPipeConnection(squatter.name, reply, kOtherUser, error);
  ASSERT_NE(connection, nullptr) << error;
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.forms = {"user=ann&password=secret"};
  EXPECT_EQ(Run(), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: not sending anything to " + squatter.name +
                           ": it is served by process " + std::to_string(GetCurrentProcessId()) +
                           " of " + me.user +
                           ", not by the Pellux service, LocalSystem or this user\n");
  EXPECT_EQ(squatter.Received(code), "") << "the client connected and wrote nothing";
  EXPECT_EQ(code, static_cast<DWORD>(ERROR_BROKEN_PIPE));
  EXPECT_TRUE(engine.Actions().empty());
}

TEST_F(PelluxctlTest, RepliesWrittenByAnotherUserAreDropped) {
  std::string error;
  const UiSender me = Me();
  const auto writeReply = [&](const std::string& text) {
    const HANDLE writer =
        CreateFileA(reply.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_NE(WriteFile(writer, text.data(), static_cast<DWORD>(text.size()), &written, nullptr),
              0);
    CloseHandle(writer);
  };
  // From its own user, an answer is taken.
  writeReply("T1 0");
  EXPECT_EQ(connection->Receive(2s, error), std::optional<std::string>("T1 0")) << error;
  // Told it runs as another user, this process's answer is nobody's it trusts.
  connection.reset();
  connection = OpenNamedPipeConnection(options.service, reply, kOtherUser, error);
  ASSERT_NE(connection, nullptr) << error;
  writeReply("H-1 -1 <form>password?</form>");
  error.clear();
  EXPECT_EQ(connection->Receive(2s, error), std::nullopt);
  EXPECT_EQ(error,
            "dropped a reply that did not come from the service: it was written by process " +
                std::to_string(GetCurrentProcessId()) + " of " + me.user);
}

}  // namespace
}  // namespace Pellux
