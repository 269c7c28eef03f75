#include "ui/channel/named_pipe_server_win.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "ui/channel/pipe_client_sender_win.h"

namespace Pellux {
namespace {

// After a failed wait for a client, the listener waits this long before it tries again,
// instead of spinning.
constexpr DWORD kConnectRetryMs = 100;

DWORD MillisecondsUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

HANDLE NewEvent() {
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

NamedPipeServer::NamedPipeServer(std::string name, Log log, Limits limits, std::string accessList)
    : name_(std::move(name)),
      log_(std::move(log)),
      limits_(limits),
      accessList_(std::move(accessList)) {}

NamedPipeServer::NamedPipeServer(std::string name, Log log)
    : NamedPipeServer(std::move(name), std::move(log), Limits{}) {}

NamedPipeServer::~NamedPipeServer() {
  Stop();
}

bool NamedPipeServer::Start(MessageHandler handler) {
  if (running_.load()) return true;
  LocalPipeSecurity security(accessList_);
  if (security.Attributes() == nullptr) {
    log_(FormatLine("UI: Cannot listen for UI messages: %s", security.Failure()).str(),
         LogLevel::kError);
    return false;
  }
  // One instance, reused for every client: with the first-instance flag and an instance limit
  // of one, nobody else can listen under the service's name, before or beside it.
  pipe_ = CreateNamedPipeA(
      name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
      kBufferBytes, kBufferBytes, kDefaultTimeoutMs, security.Attributes());
  if (pipe_ == INVALID_HANDLE_VALUE) {
    log_(FormatLine("UI: Cannot listen for UI messages: %s",
                    SystemCallFailure("CreateNamedPipeA", name_, LastSystemError()))
             .str(),
         LogLevel::kError);
    return false;
  }
  stopEvent_ = NewEvent();
  ioEvent_ = NewEvent();
  finishedEvent_ = NewEvent();
  if (stopEvent_ == nullptr || ioEvent_ == nullptr || finishedEvent_ == nullptr) {
    log_(FormatLine("UI: Cannot listen for UI messages: %s",
                    SystemCallFailure("CreateEventA", "", LastSystemError()))
             .str(),
         LogLevel::kError);
    CloseIfOpen(stopEvent_);
    CloseIfOpen(ioEvent_);
    CloseIfOpen(finishedEvent_);
    CloseIfOpen(pipe_);
    pipe_ = INVALID_HANDLE_VALUE;
    return false;
  }
  handler_ = std::move(handler);
  running_.store(true);
  thread_ = std::thread([this] {
    Run();
    SetEvent(finishedEvent_);
  });
  return true;
}

void NamedPipeServer::Stop() {
  if (!running_.exchange(false)) return;
  SetEvent(stopEvent_);
  // Every wait of the listener ends on the stop event; only a handler still at work keeps it.
  if (WaitForSingleObject(finishedEvent_, kStopWaitMs) != WAIT_OBJECT_0) {
    log_(FormatLine("UI: The listener is still handling a message after %d ms; waiting for it",
                    kStopWaitMs)
             .str(),
         LogLevel::kError);
  }
  thread_.join();
  CloseIfOpen(stopEvent_);
  CloseIfOpen(ioEvent_);
  CloseIfOpen(finishedEvent_);
  CloseIfOpen(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
}

void NamedPipeServer::Run() {
  while (running_.load()) {
    if (AwaitClient()) Serve();
  }
}

bool NamedPipeServer::AwaitClient() {
  OVERLAPPED overlapped{};
  overlapped.hEvent = ioEvent_;
  ResetEvent(ioEvent_);
  if (ConnectNamedPipe(pipe_, &overlapped) != 0) return true;
  DWORD code = GetLastError();
  // Connected before we looked, and maybe gone again: what it wrote may still be there.
  if (code == ERROR_PIPE_CONNECTED || code == ERROR_NO_DATA) return true;
  if (code == ERROR_IO_PENDING) {
    DWORD bytes = 0;
    switch (Finish(overlapped, INFINITE, bytes, code)) {
      case WaitEnd::kDone:
        if (code == 0) return true;
        break;
      case WaitEnd::kStopped:
        return false;
      case WaitEnd::kTimedOut:
      case WaitEnd::kFailed:
        break;
    }
  }
  LogFailure("Waiting for a UI connection", "ConnectNamedPipe", code);
  WaitForSingleObject(stopEvent_, kConnectRetryMs);
  return false;
}

void NamedPipeServer::Serve() {
  const auto deadline = std::chrono::steady_clock::now() + limits_.clientTimeout;
  std::vector<char> piece(kReadPieceBytes);
  std::string message;
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ioEvent_;
    ResetEvent(ioEvent_);
    DWORD bytes = 0;
    DWORD error = 0;
    if (ReadFile(pipe_, piece.data(), kReadPieceBytes, nullptr, &overlapped) == 0) {
      error = GetLastError();
    }
    if (error == ERROR_IO_PENDING) {
      switch (Finish(overlapped, MillisecondsUntil(deadline), bytes, error)) {
        case WaitEnd::kDone:
          break;
        case WaitEnd::kStopped:
          Disconnect();
          return;
        case WaitEnd::kTimedOut:
          log_(FormatLine("UI: Giving up on a client that did not end its message within %d ms "
                          "(%d bytes read)",
                          limits_.clientTimeout.count(), message.size())
                   .str(),
               LogLevel::kIgnored);
          Disconnect();
          return;
        case WaitEnd::kFailed:
          LogFailure("Reading a UI message", "WaitForMultipleObjects", error);
          Disconnect();
          return;
      }
    } else if (error == 0 || error == ERROR_MORE_DATA) {
      // Done at once: the count is in the overlapped result.
      GetOverlappedResult(pipe_, &overlapped, &bytes, FALSE);
    }
    if (error != 0 && error != ERROR_MORE_DATA) {
      LogFailure("Reading a UI message", "ReadFile", error);
      Disconnect();
      return;
    }
    message.append(piece.data(), bytes);
    if (message.size() > limits_.maxMessageBytes) {
      log_(
          FormatLine("UI: Dropping a message of more than %d bytes", limits_.maxMessageBytes).str(),
          LogLevel::kIgnored);
      Disconnect();
      return;
    }
    if (error == 0) break;
  }
  if (message.empty()) {
    log_("UI: Ignoring a connection that sent nothing", LogLevel::kIgnored);
    Disconnect();
    return;
  }
  // Who wrote it, asked while the client is still connected.
  std::string error;
  const auto sender = PipeClientSender(pipe_, error);
  // The client is let go before its message is handled, so the next one may connect.
  FlushFileBuffers(pipe_);
  Disconnect();
  if (!sender) {
    log_(FormatLine("UI: Dropping a message from an unknown sender: %s", error).str(),
         LogLevel::kError);
    return;
  }
  handler_(*sender, message);
}

NamedPipeServer::WaitEnd NamedPipeServer::Finish(OVERLAPPED& overlapped, DWORD timeoutMs,
                                                 DWORD& bytes, DWORD& error) {
  const HANDLE events[] = {ioEvent_, stopEvent_};
  const DWORD result = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
  if (result == WAIT_OBJECT_0) {
    error = GetOverlappedResult(pipe_, &overlapped, &bytes, FALSE) != 0 ? 0 : GetLastError();
    return WaitEnd::kDone;
  }
  error = result == WAIT_FAILED ? GetLastError() : 0;
  // The operation must be over before its OVERLAPPED goes out of scope.
  CancelIo(pipe_);
  DWORD ignored = 0;
  GetOverlappedResult(pipe_, &overlapped, &ignored, TRUE);
  if (result == WAIT_OBJECT_0 + 1) return WaitEnd::kStopped;
  if (result == WAIT_TIMEOUT) return WaitEnd::kTimedOut;
  return WaitEnd::kFailed;
}

void NamedPipeServer::Disconnect() {
  if (DisconnectNamedPipe(pipe_) == 0) {
    LogFailure("Letting a UI client go", "DisconnectNamedPipe", GetLastError());
  }
}

void NamedPipeServer::LogFailure(const char* what, const char* call, DWORD code) {
  log_(FormatLine("UI: %s failed: %s", what, SystemCallFailure(call, name_, code)).str(),
       LogLevel::kError);
}

}  // namespace Pellux
