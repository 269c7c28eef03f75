#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/ui_sender.h"
#include "ui/channel/line_rate_limit.h"
#include "ui/channel/local_pipe_security_win.h"
#include "ui/channel/pipe_server.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

// The Windows listener of the UI channel: a named pipe in message mode, one message per
// connection. Only local users reach it (LocalPipeSecurity, remote clients rejected).
//
// Its instances (Limits::instances) are all made at Start, the first with the first-instance
// flag and the pipe's instance limit equal to their number, so nobody can listen under its name
// before or beside it; a pipe someone else made first (one that allows another number of
// instances) is refused as well. Each message goes on with its sender, the pipe client's token
// (PipeClientSender), taken while the client is connected.
//
// Clients are read side by side, each instance with its own overlapped connect and reads, all
// waited on by the one listener thread, so a client that dawdles delays nobody: one that sends
// nothing for the idle time-out, or takes longer than the client time-out in all, is dropped,
// and a user who already has maxPerUser connections waiting has the next one dropped at once.
// It stays up whatever a client does: a message past the size cap is dropped and read no
// further, an empty message or a failed read is logged (once a second for each user and kind)
// and forgotten. Every wait also waits for Stop.
//
// Order: one instance at a time waits for the next client (the listener takes up the fresh
// instances itself at Start, as a fresh instance would take clients unasked), so connections
// are taken in the order they came, and whole messages are handed on in the order they ended,
// those that ended together in the order of their connections: one client's messages written
// one after another arrive in that order.
class NamedPipeServer final : public PipeServer {
 public:
  // One line of the listener's own, with its level (base/log_level.h). Listener thread, or the
  // thread calling Start or Stop.
  using Log = std::function<void(const std::string& line, int level)>;
  struct Limits {
    // A client that sends nothing for this long is dropped.
    std::chrono::milliseconds idleTimeout{500};
    // The longest a client may take from its connection to the end of its message.
    std::chrono::milliseconds clientTimeout{3000};
    std::size_t maxMessageBytes = kMaxUiMessageBytes;
    // Connections one user (by SID) may have waiting at once.
    std::size_t maxPerUser = 4;
    // The pipe's instances, all made at Start: as many clients are read at once (at most 63).
    std::size_t instances = 8;
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

  // Also false when another process made the pipe first; the reason is logged and kept in
  // StartFailure().
  bool Start(MessageHandler handler) override;
  void Stop() override;

  // Why the last Start failed (the failing call with the system's code and text); empty after
  // a successful one. The thread calling Start.
  [[nodiscard]] const std::string& StartFailure() const { return startFailure_; }
  // The first instance's handle while started, for tests that read back what the system made
  // of the pipe.
  [[nodiscard]] HANDLE PipeHandle() const;

 private:
  enum class State {
    kFree,       // disconnected, taking no client
    kListening,  // waiting for a client (overlapped ConnectNamedPipe)
    kReading,    // a client is connected and its message is being read
  };
  struct Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    // The completion event of the instance's overlapped connect and reads.
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    // An operation on `overlapped` has not completed yet.
    bool pending = false;
    State state = State::kFree;
    // A free instance whose connect failed waits until then before it listens again.
    std::chrono::steady_clock::time_point retryAt;
    // The connection while reading.
    std::uint64_t order = 0;
    UiSender sender;
    // False while the system could not tell the sender yet (a client that has already gone
    // by the time its connection is seen): asked again once its message is read.
    bool senderKnown = false;
    std::string message;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastRead;
    std::vector<char> piece;
  };
  // Whole messages: the connection's order, its sender and the message.
  using Messages = std::vector<std::tuple<std::uint64_t, UiSender, std::string>>;

  bool Fail(const std::string& reason);
  void CloseInstances();
  // Connects to each fresh instance but one and lets go, so that only instances this listener
  // asked take clients.
  void TakeUpFreshInstances();
  void Run();
  // Asks `instance` to wait for a client. With `atStart`, a client that is already gone without
  // a byte was this listener's own from TakeUpFreshInstances and is let go silently.
  void Listen(Instance& instance, Messages& messages, bool atStart = false);
  // Has one free instance wait for a client when none does.
  void EnsureOneListens(Messages& messages);
  // The instance's pending operation has completed: takes its result.
  void Complete(Instance& instance, Messages& messages);
  void OnConnected(Instance& instance, Messages& messages);
  // Reads what the client has written until a read is pending or the message is whole.
  void ReadOn(Instance& instance, Messages& messages);
  // Takes the result of one read; false when the connection is over.
  bool TakePiece(Instance& instance, DWORD bytes, DWORD error, Messages& messages);
  // Drops clients past their time-outs; the time until the next deadline, at most a second.
  DWORD ExpireClients();
  // Ends the pending operation, if any, and lets the client go.
  void Disconnect(Instance& instance);
  void LogLimited(const UiSender& sender, const char* what, int level, const std::string& line);

  const std::string name_;
  const Log log_;
  const Limits limits_;
  const std::string accessList_;
  MessageHandler handler_;
  std::string startFailure_;
  std::unique_ptr<Instance[]> instances_;
  std::size_t instanceCount_ = 0;
  // Counts the connections taken, in the order they came.
  std::uint64_t connections_ = 0;
  LineRateLimit limitedLines_;
  // Set by Stop: every wait of the listener wakes up on it.
  HANDLE stopEvent_ = nullptr;
  // Set by the listener thread as its last act, so that Stop can wait for it with a limit.
  HANDLE finishedEvent_ = nullptr;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace Pellux
