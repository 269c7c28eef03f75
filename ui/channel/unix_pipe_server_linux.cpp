#include "ui/channel/unix_pipe_server_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"

namespace Pellux {
namespace {

// After a failed accept (out of descriptors, say), the listener waits this long before it
// tries again, instead of spinning.
constexpr int kAcceptRetryMs = 100;

}  // namespace

std::string UnixPipeServer::DefaultPath() {
  const char* runtime = std::getenv("RUNTIME_DIRECTORY");
  if (runtime != nullptr && *runtime != '\0') {
    std::string folder(runtime);
    // systemd separates several runtime folders with ':'; ours is the first.
    folder = folder.substr(0, folder.find(':'));
    return folder + "/service.sock";
  }
  return "/run/pellux/service.sock";
}

UnixPipeServer::UnixPipeServer(std::string path, ReplyOwners& owners, Log log, Limits limits)
    : path_(std::move(path)), owners_(owners), log_(std::move(log)), limits_(limits) {}

UnixPipeServer::~UnixPipeServer() {
  Stop();
}

bool UnixPipeServer::Start(MessageHandler handler) {
  if (running_.load()) return true;
  std::string error;
  auto listener = UnixSocket::Listen(path_, 0666, error);
  if (!listener) {
    log_(FormatLine("UI: Cannot listen for UI messages: %s", error).str(), LogLevel::kError);
    return false;
  }
  int wake[2];
  if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    log_(FormatLine("UI: Cannot listen for UI messages: %s",
                    SystemCallFailure("pipe2", "", LastSystemError()))
             .str(),
         LogLevel::kError);
    return false;
  }
  listener_ = std::move(*listener);
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  handler_ = std::move(handler);
  running_.store(true);
  thread_ = std::thread([this] { Run(); });
  return true;
}

void UnixPipeServer::Stop() {
  if (!running_.exchange(false)) return;
  const char byte = 0;
  if (write(wakeWrite_, &byte, 1) != 1) {
    // The thread still sees `running_` at its next wait-out; say why it may take a moment.
    log_(FormatLine("UI: Waking the listener: %s",
                    SystemCallFailure("write", "wake pipe", LastSystemError()))
             .str(),
         LogLevel::kError);
  }
  if (thread_.joinable()) thread_.join();
  close(wakeRead_);
  close(wakeWrite_);
  wakeRead_ = wakeWrite_ = -1;
  listener_ = UnixSocket();
  if (path_.front() != '@') unlink(path_.c_str());
}

void UnixPipeServer::Run() {
  while (running_.load()) {
    std::string error;
    // Woken up now and then even when idle, so that a lost wake byte cannot keep it for ever.
    auto client = listener_.Accept(
        wakeRead_, std::chrono::steady_clock::now() + std::chrono::seconds(1), error);
    if (client) {
      Serve(std::move(*client));
      continue;
    }
    if (error.empty()) continue;
    log_(FormatLine("UI: Accepting a UI connection failed: %s", error).str(), LogLevel::kError);
    pollfd wake{wakeRead_, POLLIN, 0};
    poll(&wake, 1, kAcceptRetryMs);
  }
}

void UnixPipeServer::Serve(UnixSocket client) {
  std::string error;
  const auto uid = client.PeerUid(error);
  if (!uid) {
    log_(FormatLine("UI: Dropping a message from an unknown sender: %s", error).str(),
         LogLevel::kError);
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + limits_.clientTimeout;
  std::string message;
  switch (client.ReadAll(limits_.maxMessageBytes, wakeRead_, deadline, message, error)) {
    case UnixSocket::ReadEnd::kComplete:
      break;
    case UnixSocket::ReadEnd::kTooLong:
      log_(FormatLine("UI: Dropping a message of more than %d bytes from uid %d",
                      limits_.maxMessageBytes, *uid)
               .str(),
           LogLevel::kIgnored);
      return;
    case UnixSocket::ReadEnd::kTimedOut:
      log_(FormatLine("UI: Giving up on a client (uid %d) that did not end its message within %d "
                      "ms (%d bytes read)",
                      *uid, limits_.clientTimeout.count(), message.size())
               .str(),
           LogLevel::kIgnored);
      return;
    case UnixSocket::ReadEnd::kWoken:
      return;
    case UnixSocket::ReadEnd::kFailed:
      log_(FormatLine("UI: Reading a message from uid %d failed: %s", *uid, error).str(),
           LogLevel::kError);
      return;
  }
  if (message.empty()) {
    log_(FormatLine("UI: Ignoring a connection from uid %d that sent nothing", *uid).str(),
         LogLevel::kIgnored);
    return;
  }
  // The connection is done with before the message is handled, as a pipe client is let go.
  client = UnixSocket();
  if (const auto split = SplitUiMessage(message); split && !split->replyName.empty()) {
    owners_.Record(split->replyName, *uid);
  }
  handler_(message);
}

}  // namespace Pellux
