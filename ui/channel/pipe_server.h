#pragma once

#include <functional>
#include <string>

#include "base/ui_sender.h"

namespace Pellux {

// The listener of the UI channel: the endpoint UIs write their messages to, one message per
// connection, and the one thread that reads them. What it reads is handed on untouched; the
// service pipe interprets it. One backend per platform: named pipes on Windows, a Unix domain
// socket on Linux.
class PipeServer {
 public:
  // Receives one whole message and who sent it, as the system tells. Runs on the listener
  // thread, one message at a time, in arrival order.
  using MessageHandler = std::function<void(const UiSender& sender, const std::string& message)>;

  PipeServer() = default;
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;
  // Stops the listener first.
  virtual ~PipeServer() = default;

  // Makes the endpoint and starts the listener thread. False when the endpoint could not be
  // made (the reason is logged); nothing runs then. Service main thread, once.
  virtual bool Start(MessageHandler handler) = 0;
  // Wakes the listener thread and joins it; no handler runs once this returns. Service main
  // thread; does nothing when not started or stopped already. Must not be called from the
  // handler.
  virtual void Stop() = 0;
};

}  // namespace Pellux
