#include "ui/channel/unix_reply_channel_linux.h"

#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/log_text.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
UnixReplyChannel::UnixReplyChannel(Log log, std::chrono::milliseconds writeTimeout)
    : log_(std::move(log)), writeTimeout_(writeTimeout) {}

bool UnixReplyChannel::Send(const std::string& message, Context context) {
  if (context == kNoContext) return true;
  const std::string& name = context->name;
  bool missing = false;
  std::string error;
  auto socket = UnixSocket::Connect(name, missing, error);
  if (!socket) {
    // A UI that has gone away is no failure to log: the caller hears of it.
    if (missing) return false;
    log_(FormatLine("UI: Cannot reach the UI at %s: %s", LogSafeText(name), error).str(),
         LogLevel::kError);
    return true;
  }
  const auto listener = socket->PeerUid(error);
  if (!listener) {
    log_(FormatLine("UI: Not replying to %s: %s", LogSafeText(name), error).str(),
         LogLevel::kError);
    return true;
  }
  if (*listener != context->sender.uid) {
    log_(FormatLine("UI: Not replying to %s: it is listened on by uid %d, but the messages "
                    "naming it came from uid %d",
                    LogSafeText(name), *listener, context->sender.uid)
             .str(),
         LogLevel::kIgnored);
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + writeTimeout_;
  if (!socket->WriteAll(message, deadline, error) || !socket->ShutdownWrite(error)) {
    log_(FormatLine("UI: Replying to %s failed: %s", LogSafeText(name), error).str(),
         LogLevel::kError);
  }
  return true;
}

}  // namespace Pellux
