#include "ui/channel/named_pipe_reply_channel_win.h"

#include <optional>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/log_text.h"
#include "base/system_error.h"
#include "ui/channel/handle_closer_win.h"
#include "ui/channel/pipe_client_sender_win.h"

namespace Pellux {
namespace {

constexpr std::string_view kLocalPipePrefix = "\\\\.\\pipe\\";

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

NamedPipeReplyChannel::NamedPipeReplyChannel(Log log, std::chrono::milliseconds writeTimeout)
    : log_(std::move(log)), writeTimeout_(writeTimeout) {}

bool NamedPipeReplyChannel::IsLocalPipeName(std::string_view name) {
  if (name.size() <= kLocalPipePrefix.size() || name.size() > kMaxNameBytes) return false;
  for (std::size_t i = 0; i < kLocalPipePrefix.size(); ++i) {
    if (Lower(name[i]) != kLocalPipePrefix[i]) return false;
  }
  for (const char c : name.substr(kLocalPipePrefix.size())) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\' || c == '/' || byte < 0x20 || byte == 0x7f) return false;
  }
  return true;
}

bool NamedPipeReplyChannel::Send(const std::string& message, Context context) {
  if (context == kNoContext) return true;
  const std::string& name = context->name;
  if (!IsLocalPipeName(name)) {
    log_(FormatLine("UI: Not replying to %s: not a pipe of this machine", LogSafeText(name)).str(),
         LogLevel::kIgnored);
    return true;
  }
  // Identification only: the UI may learn who wrote, but never act as the service's account.
  const DWORD flags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
  // A UI with one instance of its pipe is busy for a moment after each message: wait for it.
  const auto until = std::chrono::steady_clock::now() + kBusyWait;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  DWORD code = 0;
  for (;;) {
    pipe = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    code = GetLastError();
    if (code != ERROR_PIPE_BUSY || std::chrono::steady_clock::now() >= until) break;
    WaitNamedPipeA(name.c_str(), kBusyPollMs);
  }
  if (pipe == INVALID_HANDLE_VALUE) {
    // A UI that has gone away is no failure to log: the caller hears of it.
    if (code == ERROR_FILE_NOT_FOUND) return false;
    log_(FormatLine("UI: Cannot reach the UI at %s: %s", LogSafeText(name),
                    SystemCallFailure("CreateFileA", name, code))
             .str(),
         LogLevel::kError);
    return true;
  }
  const HandleCloser closer(pipe);
  // Only the user whose message named the pipe may be listening on it: nobody has the service
  // write another user's pages into a pipe of his own.
  ULONG server = 0;
  std::string error;
  std::optional<UiSender> listener;
  if (GetNamedPipeServerProcessId(pipe, &server) == 0) {
    error = SystemCallFailure("GetNamedPipeServerProcessId", name, LastSystemError());
  } else {
    listener = ProcessSender(server, error);
  }
  if (!listener) {
    log_(FormatLine("UI: Not replying to %s: %s", LogSafeText(name), error).str(),
         LogLevel::kError);
    return true;
  }
  if (listener->user != context->sender.user) {
    log_(FormatLine("UI: Not replying to %s: it is listened on by %s, but the messages naming it "
                    "came from %s",
                    LogSafeText(name), listener->user, context->sender.user)
             .str(),
         LogLevel::kIgnored);
    return true;
  }
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (done == nullptr) {
    log_(FormatLine("UI: Replying to %s failed: %s", LogSafeText(name),
                    SystemCallFailure("CreateEventA", "", LastSystemError()))
             .str(),
         LogLevel::kError);
    return true;
  }
  const HandleCloser doneCloser(done);
  OVERLAPPED overlapped{};
  overlapped.hEvent = done;
  code = 0;
  if (WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped) ==
      0) {
    code = GetLastError();
  }
  if (code == ERROR_IO_PENDING) {
    const auto waitMs = static_cast<DWORD>(writeTimeout_.count());
    if (WaitForSingleObject(done, waitMs) != WAIT_OBJECT_0) {
      CancelIo(pipe);
      log_(FormatLine("UI: Replying to %s failed: the UI read none of %d bytes within %d ms",
                      LogSafeText(name), message.size(), writeTimeout_.count())
               .str(),
           LogLevel::kError);
    }
    DWORD written = 0;
    code = GetOverlappedResult(pipe, &overlapped, &written, TRUE) != 0 ? 0 : GetLastError();
    if (code == ERROR_OPERATION_ABORTED) return true;
  }
  if (code != 0) {
    log_(FormatLine("UI: Replying to %s failed: %s", LogSafeText(name),
                    SystemCallFailure("WriteFile", name, code))
             .str(),
         LogLevel::kError);
  }
  return true;
}

}  // namespace Pellux
