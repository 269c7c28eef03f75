#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "ui/channel/local_pipe_security_win.h"
#include "ui/channel/pipe_server.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

// The Windows listener of the UI channel: one instance of a named pipe in message mode, one
// message per connection. Only local users reach it (LocalPipeSecurity, remote clients
// rejected), it is the pipe's first and only instance, so nobody can listen under its name
// beside it, and it stays up whatever a client does: a message past the size cap is dropped
// and read no further, a client that sends nothing within the time-out is given up, and an
// empty message or a failed read is logged and forgotten. Every wait also waits for Stop.
class NamedPipeServer final : public PipeServer {
 public:
  // One line of the listener's own, with its level (base/log_level.h). Listener thread, or the
  // thread calling Start or Stop.
  using Log = std::function<void(const std::string& line, int level)>;
  struct Limits {
    // The longest a client may take from its connection to the end of its message.
    std::chrono::milliseconds clientTimeout{3000};
    std::size_t maxMessageBytes = kMaxUiMessageBytes;
  };

  static constexpr const char* kServiceName = "\\\\.\\pipe\\PelluxService";
  static constexpr DWORD kBufferBytes = 1024;
  static constexpr DWORD kDefaultTimeoutMs = 3000;
  // A message is read in pieces of this size.
  static constexpr DWORD kReadPieceBytes = 8191;
  // How long Stop waits for the listener before it says that the handler keeps it.
  static constexpr DWORD kStopWaitMs = 2000;

  // `accessList` is the pipe's DACL in SDDL (LocalPipeSecurity).
  NamedPipeServer(std::string name, Log log, Limits limits,
                  std::string accessList = LocalPipeSecurity::kSddl);
  // With the default limits.
  NamedPipeServer(std::string name, Log log);
  ~NamedPipeServer() override;

  bool Start(MessageHandler handler) override;
  void Stop() override;

  // The pipe's handle while started, for tests that read back what the system made of it.
  [[nodiscard]] HANDLE PipeHandle() const { return pipe_; }

 private:
  enum class WaitEnd { kDone, kStopped, kTimedOut, kFailed };

  void Run();
  // Waits for a client; false when stopped or the wait failed (logged).
  bool AwaitClient();
  void Serve();
  // Waits for the pending operation on `overlapped` for `timeoutMs` or until Stop; on kDone,
  // `bytes` holds its count and `error` its code (0, or ERROR_MORE_DATA for a piece).
  WaitEnd Finish(OVERLAPPED& overlapped, DWORD timeoutMs, DWORD& bytes, DWORD& error);
  void Disconnect();
  void LogFailure(const char* what, const char* call, DWORD code);

  const std::string name_;
  const Log log_;
  const Limits limits_;
  const std::string accessList_;
  MessageHandler handler_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
  // Set by Stop: every wait of the listener wakes up on it.
  HANDLE stopEvent_ = nullptr;
  // The completion event of the listener's overlapped connect and reads.
  HANDLE ioEvent_ = nullptr;
  // Set by the listener thread as its last act, so that Stop can wait for it with a limit.
  HANDLE finishedEvent_ = nullptr;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace Pellux
