#include "ui/channel/unix_reply_channel_linux.h"

#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

constexpr std::uint32_t kRoot = 0;

}  // namespace

UnixReplyChannel::UnixReplyChannel(const ReplyOwners& owners, Log log,
                                   std::chrono::milliseconds writeTimeout)
    : owners_(owners), log_(std::move(log)), writeTimeout_(writeTimeout) {}

bool UnixReplyChannel::Send(const std::string& message, Context context) {
  if (context == kNoContext) return true;
  const std::string& name = *context;
  bool missing = false;
  std::string error;
  auto socket = UnixSocket::Connect(name, missing, error);
  if (!socket) {
    // A UI that has gone away is no failure to log: the caller hears of it.
    if (missing) return false;
    log_(FormatLine("UI: Cannot reach the UI at %s: %s", name, error).str(), LogLevel::kError);
    return true;
  }
  const auto listener = socket->PeerUid(error);
  if (!listener) {
    log_(FormatLine("UI: Not replying to %s: %s", name, error).str(), LogLevel::kError);
    return true;
  }
  const auto owner = owners_.OwnerOf(name);
  if (!owner) {
    log_(FormatLine("UI: Not replying to %s: no UI message has named it", name).str(),
         LogLevel::kIgnored);
    return true;
  }
  if (*listener != *owner && *listener != kRoot) {
    log_(FormatLine("UI: Not replying to %s: it is listened on by uid %d, but the messages "
                    "naming it came from uid %d",
                    name, *listener, *owner)
             .str(),
         LogLevel::kIgnored);
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + writeTimeout_;
  if (!socket->WriteAll(message, deadline, error) || !socket->ShutdownWrite(error)) {
    log_(FormatLine("UI: Replying to %s failed: %s", name, error).str(), LogLevel::kError);
  }
  return true;
}

}  // namespace Pellux
