#include "ui/channel/pipe_client_sender_win.h"

#include <sddl.h>

#include <vector>

#include "base/system_error.h"

namespace Pellux {
namespace {

class Handle {
 public:
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }
  HANDLE* Out() { return &handle_; }
  [[nodiscard]] HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_ = nullptr;
};

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

}  // namespace

std::optional<UiSender> ProcessSender(DWORD pid, std::string& error) {
  const std::string subject = "process " + std::to_string(pid);
  Handle process;
  *process.Out() = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process.Get() == nullptr) {
    error = SystemCallFailure("OpenProcess", subject, LastSystemError());
    return std::nullopt;
  }
  Handle token;
  if (OpenProcessToken(process.Get(), TOKEN_QUERY, token.Out()) == 0) {
    error = SystemCallFailure("OpenProcessToken", subject, LastSystemError());
    return std::nullopt;
  }
  std::vector<BYTE> value;
  if (!TokenValue(token.Get(), TokenUser, "TokenUser", value, error)) return std::nullopt;
  PSID sid = reinterpret_cast<TOKEN_USER*>(value.data())->User.Sid;
  char* text = nullptr;
  if (ConvertSidToStringSidA(sid, &text) == 0) {
    error = SystemCallFailure("ConvertSidToStringSidA", subject, LastSystemError());
    return std::nullopt;
  }
  UiSender sender;
  sender.user = text;
  LocalFree(text);
  sender.pid = pid;
  sender.system = IsWellKnownSid(sid, WinLocalSystemSid) != 0;
  if (!TokenValue(token.Get(), TokenElevation, "TokenElevation", value, error)) {
    return std::nullopt;
  }
  sender.elevatedAdministrator =
      reinterpret_cast<TOKEN_ELEVATION*>(value.data())->TokenIsElevated != 0;
  if (!TokenValue(token.Get(), TokenSessionId, "TokenSessionId", value, error)) {
    return std::nullopt;
  }
  sender.session = *reinterpret_cast<DWORD*>(value.data());
  return sender;
}

std::optional<UiSender> PipeClientSender(HANDLE pipe, std::string& error) {
  ULONG pid = 0;
  if (GetNamedPipeClientProcessId(pipe, &pid) == 0) {
    error = SystemCallFailure("GetNamedPipeClientProcessId", "", LastSystemError());
    return std::nullopt;
  }
  return ProcessSender(pid, error);
}

}  // namespace Pellux
