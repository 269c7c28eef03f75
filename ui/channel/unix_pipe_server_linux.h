#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "ui/channel/pipe_server.h"
#include "ui/channel/reply_owners_linux.h"
#include "ui/channel/ui_message.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {

// The Linux listener of the UI channel: a Unix domain socket, mode 0666 so that every user's UI
// may write, one message per connection, ended by the client's half-close. It records who sent
// each message (ReplyOwners) before handing it on, and stays up whatever a client does: a
// message past the size cap is dropped unread, a client that sends nothing within the time-out
// is given up, and an empty message or a failed read is logged and forgotten.
class UnixPipeServer final : public PipeServer {
 public:
  // One line of the listener's own, with its level (base/log_level.h). Listener thread, or the
  // thread calling Start.
  using Log = std::function<void(const std::string& line, int level)>;
  struct Limits {
    // The longest a client may take from its connection to the end of its message.
    std::chrono::milliseconds clientTimeout{3000};
    std::size_t maxMessageBytes = kMaxUiMessageBytes;
  };

  // "$RUNTIME_DIRECTORY/service.sock" when systemd sets that variable (its first folder), else
  // "/run/pellux/service.sock".
  static std::string DefaultPath();

  // `owners` must outlive the server.
  UnixPipeServer(std::string path, ReplyOwners& owners, Log log, Limits limits);
  ~UnixPipeServer() override;

  bool Start(MessageHandler handler) override;
  void Stop() override;

 private:
  void Run();
  void Serve(UnixSocket client);

  const std::string path_;
  ReplyOwners& owners_;
  const Log log_;
  const Limits limits_;
  MessageHandler handler_;
  UnixSocket listener_;
  // Stop writes a byte here to wake the listener thread from any wait.
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> running_{false};
  std::thread thread_;
};

}  // namespace Pellux
