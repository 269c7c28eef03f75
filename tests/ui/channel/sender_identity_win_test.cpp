// Who a UI message comes from on Windows: the administrator decision of IsWindowsAdministrator
// for each kind of sender, and a real read of this process's own token under Wine, checked
// against what other calls of the system say.

#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <string>

#include "ui/channel/pipe_client_sender_win.h"
#include "ui/channel/win_authority_win.h"

namespace Pellux {
namespace {

UiSender Sender(const std::string& user, std::uint32_t session, bool system, bool elevated) {
  UiSender sender;
  sender.user = user;
  sender.pid = 4242;
  sender.session = session;
  sender.system = system;
  sender.elevatedAdministrator = elevated;
  return sender;
}

TEST(WindowsAdministrator, LocalSystemElevatedAdministratorsAndTheConsolesUserOnly) {
  constexpr std::uint32_t kConsole = 1;
  const std::string user = "S-1-5-21-10-20-30-1001";
  const struct {
    const char* what;
    UiSender sender;
    std::uint32_t console;
    bool administrator;
  } rows[] = {
      {"an elevated administrator in another session", Sender(user, 3, false, true), kConsole,
       true},
      {"the console's user, not elevated", Sender(user, kConsole, false, false), kConsole, true},
      {"another user in another session", Sender(user, 2, false, false), kConsole, false},
      {"LocalSystem in session 0", Sender("S-1-5-18", 0, true, true), kConsole, true},
      {"a user without a console session attached", Sender(user, 1, false, false),
       kNoConsoleSession, false},
      {"a sender claiming the no-console session", Sender(user, kNoConsoleSession, false, false),
       kNoConsoleSession, false},
      {"an elevated administrator without a console session", Sender(user, 2, false, true),
       kNoConsoleSession, true},
      {"LocalSystem without a console session", Sender("S-1-5-18", 0, true, false),
       kNoConsoleSession, true},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsWindowsAdministrator(row.sender, row.console), row.administrator) << row.what;
  }
}

// The user's SID as the account database tells it, apart from any token.
std::string AccountSid(std::string& failure) {
  char name[256] = {};
  DWORD nameSize = sizeof name;
  if (GetUserNameA(name, &nameSize) == 0) {
    failure = "GetUserNameA failed";
    return {};
  }
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  DWORD sidSize = sizeof sid;
  char domain[256] = {};
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use{};
  if (LookupAccountNameA(nullptr, name, sid, &sidSize, domain, &domainSize, &use) == 0) {
    failure = std::string("LookupAccountNameA(") + name + ") failed";
    return {};
  }
  char* text = nullptr;
  if (ConvertSidToStringSidA(sid, &text) == 0) {
    failure = "ConvertSidToStringSidA failed";
    return {};
  }
  std::string result = text;
  LocalFree(text);
  return result;
}

TEST(ProcessSenderUnderWine, ThisProcessIsReadAsTheSystemTellsIt) {
  std::string error;
  const auto me = ProcessSender(GetCurrentProcessId(), error);
  ASSERT_TRUE(me) << error;
  EXPECT_EQ(me->pid, GetCurrentProcessId());
  // A user's SID, the same as the account's.
  EXPECT_EQ(me->user.rfind("S-1-5-21-", 0), 0u) << me->user;
  std::string failure;
  EXPECT_EQ(me->user, AccountSid(failure)) << failure;
  EXPECT_FALSE(me->system) << "a test runs as a user, not as LocalSystem";
  // The session the process list has for it.
  DWORD session = 0;
  ASSERT_NE(ProcessIdToSessionId(GetCurrentProcessId(), &session), 0);
  EXPECT_EQ(me->session, session);
  // Elevated exactly when the administrators' group counts in the token.
  BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof administrators;
  ASSERT_NE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size), 0);
  BOOL member = FALSE;
  ASSERT_NE(CheckTokenMembership(nullptr, administrators, &member), 0);
  EXPECT_EQ(me->elevatedAdministrator, member != 0);
  // Unused on Windows.
  EXPECT_EQ(me->uid, 0u);
  EXPECT_EQ(me->gid, 0u);
  // The authority decides on it with the session at the console now.
  WinAuthority authority;
  EXPECT_EQ(authority.IsAdministrator(*me),
            me->elevatedAdministrator || me->session == WTSGetActiveConsoleSessionId());
}

TEST(ProcessSenderUnderWine, AProcessThatDoesNotExistIsNobody) {
  std::string error;
  EXPECT_FALSE(ProcessSender(0x7FFFFFF0, error));
  EXPECT_EQ(error.rfind("OpenProcess(process 2147483632) failed: error ", 0), 0u) << error;
}

}  // namespace
}  // namespace Pellux
