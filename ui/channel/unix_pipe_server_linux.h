#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/ui_sender.h"
#include "ui/channel/line_rate_limit.h"
#include "ui/channel/pipe_server.h"
#include "ui/channel/ui_message.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {

// The Linux listener of the UI channel: a Unix domain socket, mode 0666 so that every user's UI
// may write, one message per connection, ended by the client's half-close. Each message goes
// on with its sender as the kernel tells (SO_PEERCRED). Clients are read side by side in one
// poll loop, so a client that dawdles delays nobody: one that sends nothing for the idle
// time-out, or takes longer than the client time-out in all, is dropped, and each user may
// have only a few connections open at once. It stays up whatever a client does: a message past
// the size cap is dropped, an empty message or a failed read is logged (once a second for each
// user) and forgotten.
//
// The socket file: a live socket at the path (another daemon's) is never replaced, a stale one
// is; the mode is the socket's own from before the bind; at Stop only the file this server
// bound is removed.
class UnixPipeServer final : public PipeServer {
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
    // Connections one user may have open at once, and all users together.
    std::size_t maxPerUser = 4;
    std::size_t maxClients = 64;
  };

  // "$RUNTIME_DIRECTORY/service.sock" when systemd sets that variable (its first folder), else
  // "/run/pellux/service.sock".
  static std::string DefaultPath();

  UnixPipeServer(std::string path, Log log, Limits limits);
  ~UnixPipeServer() override;

  bool Start(MessageHandler handler) override;
  void Stop() override;

  // Whether Start failed because another process listens at the path (another daemon).
  [[nodiscard]] bool FoundBusy() const { return busy_; }

 private:
  struct Client {
    UnixSocket socket;
    UiSender sender;
    std::string message;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point lastRead;
  };
  enum class ReadState { kMore, kComplete, kDropped };
  // Whole messages and their senders, in the order they ended.
  using Messages = std::vector<std::pair<UiSender, std::string>>;

  void Run();
  // Accepts every waiting connection; those whose message is there whole go to `messages`.
  void AcceptAll(Messages& messages);
  // Reads what `client` has sent so far.
  ReadState ReadFrom(Client& client);
  // Drops the clients past their time-outs; the time until the next one's, at most a second, or
  // -1 (no time-out) when nobody is connected.
  int ExpireClients();
  void LogLimited(const UiSender& sender, const char* what, int level, const std::string& line);

  const std::string path_;
  const Log log_;
  const Limits limits_;
  MessageHandler handler_;
  UnixSocket listener_;
  // The file this server bound, removed at Stop only while it is still that file.
  bool bound_ = false;
  unsigned long boundDevice_ = 0;
  unsigned long boundInode_ = 0;
  bool busy_ = false;
  std::vector<Client> clients_;
  LineRateLimit limitedLines_;
  // Stop writes a byte here to wake the listener thread from any wait.
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace Pellux
