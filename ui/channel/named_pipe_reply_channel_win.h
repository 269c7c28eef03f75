#pragma once

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "ui/channel/reply_channel.h"

namespace Pellux {

// The way back to a UI on Windows: one connection per message to the named pipe the UI named,
// the message written whole, no answer read. Only pipes of this machine are written to
// ("\\.\pipe\" and a name without further separators); any other name is refused with a log
// line and nothing is sent. The service connects for identification only, so the UI's end of
// the pipe cannot act as the service's account.
class NamedPipeReplyChannel final : public ReplyChannel {
 public:
  // One line of the channel's own, with its level; never a status line, so a Log that sends
  // status lines through this channel is not entered again.
  using Log = std::function<void(const std::string& line, int level)>;
  // How long to wait for a free instance of a busy reply pipe, in waits of kBusyPollMs: a UI
  // that listens on one instance is busy between two messages.
  static constexpr std::chrono::milliseconds kBusyWait{1000};
  static constexpr DWORD kBusyPollMs = 1;
  // A UI that does not read its reply within this time loses it: the engine waits meanwhile.
  static constexpr std::chrono::milliseconds kWriteTimeout{1000};
  // The longest pipe name of a reply, prefix included.
  static constexpr std::size_t kMaxNameBytes = 256;

  explicit NamedPipeReplyChannel(Log log, std::chrono::milliseconds writeTimeout = kWriteTimeout);

  bool Send(const std::string& message, Context context) override;

  // Whether `name` is a pipe of this machine: "\\.\pipe\" (in any case) and a name of printable
  // characters without '\' or '/', kMaxNameBytes at most in all.
  static bool IsLocalPipeName(std::string_view name);

 private:
  const Log log_;
  const std::chrono::milliseconds writeTimeout_;
};

}  // namespace Pellux
