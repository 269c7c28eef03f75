#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "ui/channel/reply_channel.h"

namespace Pellux {

// The way back to a UI on Linux: one connection per message to the Unix socket the UI named
// (a path, or "@" and an abstract name), the message written whole and ended by a half-close.
// The endpoint must be listened on by the user whose message named it (SO_PEERCRED of the
// connection against the context's sender): no user can have the service write to another
// user's endpoint, nor to root's; otherwise nothing is sent and a line is logged.
class UnixReplyChannel final : public ReplyChannel {
 public:
  // One line of the channel's own, with its level; never a status line, so a Log that sends
  // status lines through this channel is not entered again.
  using Log = std::function<void(const std::string& line, int level)>;
  // A UI that does not read its reply within this time loses it: the engine waits meanwhile.
  static constexpr std::chrono::milliseconds kWriteTimeout{1000};

  explicit UnixReplyChannel(Log log, std::chrono::milliseconds writeTimeout = kWriteTimeout);

  bool Send(const std::string& message, Context context) override;

 private:
  const Log log_;
  const std::chrono::milliseconds writeTimeout_;
};

}  // namespace Pellux
