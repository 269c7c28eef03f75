#include "ui/channel/pipe_client_sender_win.h"

#include <sddl.h>

#include <cstdlib>
#include <vector>

#include "base/system_error.h"
#include "ui/channel/handle_closer_win.h"

namespace Pellux {
namespace {

bool TokenValue(HANDLE token, TOKEN_INFORMATION_CLASS kind, const char* what,
                std::vector<BYTE>& value, std::string& error) {
  DWORD size = 0;
  value.resize(64);
  BOOL read =
      GetTokenInformation(token, kind, value.data(), static_cast<DWORD>(value.size()), &size);
  if (read == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    value.resize(size);
    read = GetTokenInformation(token, kind, value.data(), size, &size);
  }
  if (read == 0) error = SystemCallFailure("GetTokenInformation", what, LastSystemError());
  return read != 0;
}

// The facts of `token`, whose owner is described as `subject` in failures.
std::optional<UiSender> TokenSender(HANDLE token, const std::string& subject, std::string& error) {
  std::vector<BYTE> value;
  if (!TokenValue(token, TokenUser, "TokenUser", value, error)) return std::nullopt;
  PSID sid = reinterpret_cast<TOKEN_USER*>(value.data())->User.Sid;
  char* text = nullptr;
  if (ConvertSidToStringSidA(sid, &text) == 0) {
    error = SystemCallFailure("ConvertSidToStringSidA", subject, LastSystemError());
    return std::nullopt;
  }
  UiSender sender;
  sender.user = text;
  LocalFree(text);
  sender.system = IsWellKnownSid(sid, WinLocalSystemSid) != 0;
  if (!TokenValue(token, TokenElevation, "TokenElevation", value, error)) return std::nullopt;
  sender.elevatedAdministrator =
      reinterpret_cast<TOKEN_ELEVATION*>(value.data())->TokenIsElevated != 0;
  if (!TokenValue(token, TokenSessionId, "TokenSessionId", value, error)) return std::nullopt;
  sender.session = *reinterpret_cast<DWORD*>(value.data());
  return sender;
}

}  // namespace

std::optional<UiSender> ProcessSender(DWORD pid, std::string& error) {
  const std::string subject = "process " + std::to_string(pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  const HandleCloser processCloser(process);
  if (process == nullptr) {
    error = SystemCallFailure("OpenProcess", subject, LastSystemError());
    return std::nullopt;
  }
  HANDLE token = nullptr;
  const BOOL opened = OpenProcessToken(process, TOKEN_QUERY, &token);
  const HandleCloser tokenCloser(token);
  if (opened == 0) {
    error = SystemCallFailure("OpenProcessToken", subject, LastSystemError());
    return std::nullopt;
  }
  auto sender = TokenSender(token, subject, error);
  if (sender) sender->pid = pid;
  return sender;
}

std::optional<UiSender> PipeClientSender(HANDLE pipe, std::string& error) {
  ULONG pid = 0;
  if (GetNamedPipeClientProcessId(pipe, &pid) == 0) {
    error = SystemCallFailure("GetNamedPipeClientProcessId", "", LastSystemError());
    return std::nullopt;
  }
  // The client's token as the system captured it with the message read last (clients connect
  // for identification at least): still there when the client process has gone, and never
  // another process that took over its id. Before anything is read there is none
  // (ERROR_CANNOT_IMPERSONATE): then the client's process is asked while it is connected.
  if (ImpersonateNamedPipeClient(pipe) == 0) {
    const DWORD code = LastSystemError();
    auto sender = ProcessSender(pid, error);
    if (!sender) {
      error = SystemCallFailure("ImpersonateNamedPipeClient", "", code) + "; " + error;
    }
    return sender;
  }
  HANDLE token = nullptr;
  const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token);
  const HandleCloser tokenCloser(token);
  const DWORD code = LastSystemError();
  if (RevertToSelf() == 0) {
    // Acting on as the client is not an option: nothing more is done on this thread's behalf.
    error = SystemCallFailure("RevertToSelf", "", LastSystemError());
    std::abort();
  }
  if (opened == 0) {
    error = SystemCallFailure("OpenThreadToken", "pipe client", code);
    return std::nullopt;
  }
  auto sender = TokenSender(token, "pipe client " + std::to_string(pid), error);
  if (sender) sender->pid = pid;
  return sender;
}

}  // namespace Pellux
