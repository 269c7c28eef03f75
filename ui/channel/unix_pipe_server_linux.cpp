#include "ui/channel/unix_pipe_server_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
// The longest the loop sleeps without looking at the clock.
constexpr int kLongestWaitMs = 1000;

using SteadyClock = std::chrono::steady_clock;

int MillisecondsUntil(SteadyClock::time_point when, SteadyClock::time_point now) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
  return static_cast<int>(std::clamp<long long>(left, 0, kLongestWaitMs));
}

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

UnixPipeServer::UnixPipeServer(std::string path, Log log, Limits limits)
    : path_(std::move(path)), log_(std::move(log)), limits_(limits) {}

UnixPipeServer::~UnixPipeServer() {
  Stop();
}

bool UnixPipeServer::Start(MessageHandler handler) {
  if (running_.load()) return true;
  std::string error;
  auto listener = UnixSocket::Listen(path_, 0666, busy_, error);
  if (!listener) {
    log_(FormatLine("UI: Cannot listen for UI messages: %s", error).str(), LogLevel::kError);
    return false;
  }
  if (path_.front() != '@') {
    struct stat status {};
    if (lstat(path_.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
      bound_ = true;
      boundDevice_ = status.st_dev;
      boundInode_ = status.st_ino;
    }
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
  clients_.clear();
  listener_ = UnixSocket();
  if (!bound_) return;
  bound_ = false;
  // Only the file this server made: a later daemon's socket at the same path stays.
  struct stat status {};
  if (lstat(path_.c_str(), &status) == 0 && status.st_dev == boundDevice_ &&
      status.st_ino == boundInode_ && unlink(path_.c_str()) != 0) {
    log_(FormatLine("UI: %s", SystemCallFailure("unlink", path_, LastSystemError())).str(),
         LogLevel::kError);
  }
}

void UnixPipeServer::Run() {
  std::vector<pollfd> watched;
  while (running_.load()) {
    const int waitMs = ExpireClients();
    watched.clear();
    watched.push_back({wakeRead_, POLLIN, 0});
    watched.push_back({listener_.Descriptor(), POLLIN, 0});
    for (const Client& client : clients_)
      watched.push_back({client.socket.Descriptor(), POLLIN, 0});
    const int ready = poll(watched.data(), watched.size(), waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      log_(FormatLine("UI: Waiting for UI messages failed: %s",
                      SystemCallFailure("poll", path_, LastSystemError()))
               .str(),
           LogLevel::kError);
      pollfd wake{wakeRead_, POLLIN, 0};
      poll(&wake, 1, kAcceptRetryMs);
      continue;
    }
    if ((watched[0].revents & POLLIN) != 0 || !running_.load()) break;
    // Clients first, by position (accepting appends to the list).
    std::vector<std::size_t> finished;
    for (std::size_t i = 0; i < clients_.size(); ++i) {
      if (watched[i + 2].revents == 0) continue;
      if (ReadFrom(clients_[i]) != ReadState::kMore) finished.push_back(i);
    }
    Messages messages;
    for (const std::size_t i : finished) {
      Client& client = clients_[i];
      if (!client.message.empty()) {
        messages.emplace_back(std::move(client.sender), std::move(client.message));
      }
    }
    for (auto i = finished.rbegin(); i != finished.rend(); ++i) {
      clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(*i));
    }
    if ((watched[1].revents & POLLIN) != 0) AcceptAll(messages);
    // Each connection is let go before its message is handled, in the order they ended.
    for (const auto& [sender, message] : messages) handler_(sender, message);
  }
}

void UnixPipeServer::AcceptAll(Messages& messages) {
  for (;;) {
    UnixSocket socket(
        accept4(listener_.Descriptor(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!socket.IsOpen()) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      log_(FormatLine("UI: Accepting a UI connection failed: %s",
                      SystemCallFailure("accept4", path_, LastSystemError()))
               .str(),
           LogLevel::kError);
      pollfd wake{wakeRead_, POLLIN, 0};
      poll(&wake, 1, kAcceptRetryMs);
      return;
    }
    std::string error;
    auto sender = socket.Peer(error);
    if (!sender) {
      log_(FormatLine("UI: Dropping a connection from an unknown sender: %s", error).str(),
           LogLevel::kError);
      continue;
    }
    // A client that has written its whole message already takes no place among the waiting.
    const auto now = SteadyClock::now();
    Client client{std::move(socket), std::move(*sender), {}, now, now};
    switch (ReadFrom(client)) {
      case ReadState::kComplete:
        if (!client.message.empty()) {
          messages.emplace_back(std::move(client.sender), std::move(client.message));
        }
        continue;
      case ReadState::kDropped:
        continue;
      case ReadState::kMore:
        break;
    }
    const auto open = static_cast<std::size_t>(std::count_if(
        clients_.begin(), clients_.end(),
        [&](const Client& waiting) { return waiting.sender.uid == client.sender.uid; }));
    if (open >= limits_.maxPerUser || clients_.size() >= limits_.maxClients) {
      LogLimited(client.sender, "busy", LogLevel::kIgnored,
                 FormatLine("UI: Dropping a connection from %s: %d of its connections and %d in "
                            "all are open (at most %d and %d)",
                            client.sender.user, open, clients_.size(), limits_.maxPerUser,
                            limits_.maxClients)
                     .str());
      continue;
    }
    clients_.push_back(std::move(client));
  }
}

UnixPipeServer::ReadState UnixPipeServer::ReadFrom(Client& client) {
  char buffer[8192];
  for (;;) {
    const ssize_t got = read(client.socket.Descriptor(), buffer, sizeof buffer);
    if (got > 0) {
      client.message.append(buffer, static_cast<std::size_t>(got));
      client.lastRead = SteadyClock::now();
      if (client.message.size() > limits_.maxMessageBytes) {
        LogLimited(client.sender, "long", LogLevel::kIgnored,
                   FormatLine("UI: Dropping a message of more than %d bytes from %s",
                              limits_.maxMessageBytes, client.sender.user)
                       .str());
        client.message.clear();
        return ReadState::kDropped;
      }
      continue;
    }
    if (got == 0) break;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadState::kMore;
    LogLimited(client.sender, "read", LogLevel::kError,
               FormatLine("UI: Reading a message from %s failed: %s", client.sender.user,
                          SystemCallFailure("read", path_, LastSystemError()))
                   .str());
    client.message.clear();
    return ReadState::kDropped;
  }
  if (client.message.empty()) {
    LogLimited(client.sender, "empty", LogLevel::kIgnored,
               FormatLine("UI: Ignoring a connection from %s that sent nothing", client.sender.user)
                   .str());
  }
  return ReadState::kComplete;
}

int UnixPipeServer::ExpireClients() {
  const auto now = SteadyClock::now();
  // With nobody connected there is nothing to time: the loop sleeps until a client or Stop.
  int waitMs = -1;
  for (auto client = clients_.begin(); client != clients_.end();) {
    const auto idleEnd = client->lastRead + limits_.idleTimeout;
    const auto wholeEnd = client->started + limits_.clientTimeout;
    if (now >= idleEnd || now >= wholeEnd) {
      const bool idle = now >= idleEnd;
      LogLimited(
          client->sender, "slow", LogLevel::kIgnored,
          FormatLine("UI: Giving up on a client (%s) that %s within %d ms (%d bytes read)",
                     client->sender.user, idle ? "sent nothing more" : "did not end its message",
                     (idle ? limits_.idleTimeout : limits_.clientTimeout).count(),
                     client->message.size())
              .str());
      client = clients_.erase(client);
      continue;
    }
    const int untilThis = MillisecondsUntil(std::min(idleEnd, wholeEnd), now) + 1;
    waitMs = waitMs < 0 ? untilThis : std::min(waitMs, untilThis);
    ++client;
  }
  return waitMs;
}

void UnixPipeServer::LogLimited(const UiSender& sender, const char* what, int level,
                                const std::string& line) {
  if (limitedLines_.Allow(sender.user + '\n' + what, std::chrono::system_clock::now())) {
    log_(line, level);
  }
}

}  // namespace Pellux
