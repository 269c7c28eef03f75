#include "ui/channel/unix_socket_linux.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/system_error.h"

namespace Pellux {
namespace {

struct Address {
  sockaddr_un address{};
  socklen_t length = 0;
};

std::optional<Address> MakeAddress(const std::string& name) {
  if (!UnixSocket::IsValidName(name)) return std::nullopt;
  Address made;
  made.address.sun_family = AF_UNIX;
  if (name.front() == '@') {
    // Abstract: a leading zero byte, then the name; the length says where it ends.
    std::memcpy(made.address.sun_path + 1, name.data() + 1, name.size() - 1);
    made.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
  } else {
    std::memcpy(made.address.sun_path, name.data(), name.size());
    made.length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + 1);
  }
  return made;
}

std::string Failure(const char* call, const std::string& subject) {
  return SystemCallFailure(call, subject, LastSystemError());
}

// Milliseconds left until `deadline`, for poll.
int Remaining(UnixSocket::Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 1 << 30));
}

enum class Ready { kSocket, kWake, kTimedOut, kFailed };

// Waits until `fd` is ready for `events`, `wakeFd` is readable, or the deadline passes.
Ready Wait(int fd, short events, int wakeFd, UnixSocket::Deadline deadline, std::string& error) {
  pollfd watched[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
  const nfds_t count = wakeFd >= 0 ? 2 : 1;
  for (;;) {
    const int ready = poll(watched, count, Remaining(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      error = Failure("poll", "");
      return Ready::kFailed;
    }
    if (count == 2 && (watched[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) return Ready::kWake;
    if (watched[0].revents != 0) return Ready::kSocket;
    if (ready == 0) return Ready::kTimedOut;
  }
}

// Binds `fd` to a path with the mode the socket was given (fchmod) and nothing taken off by
// the umask: the bind runs in a child of its own with the umask 0, so that no other thread
// makes a file while the umask is cleared, and the file's mode is never set by path afterwards
// (which a process swapping the path for a link could redirect).
bool BindWithoutUmask(int fd, const Address& address, const std::string& name, std::string& error) {
  const pid_t child = fork();
  if (child < 0) {
    error = Failure("fork", "bind " + name);
    return false;
  }
  if (child == 0) {
    umask(0);
    const int bound = bind(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length);
    _exit(bound == 0 ? 0 : (errno & 0xff));
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      error = Failure("waitpid", "bind " + name);
      return false;
    }
  }
  if (!WIFEXITED(status)) {
    error = "bind(" + name + "): the binding child ended with status " + std::to_string(status);
    return false;
  }
  if (WEXITSTATUS(status) != 0) {
    error = SystemCallFailure("bind", name, static_cast<unsigned long>(WEXITSTATUS(status)));
    return false;
  }
  return true;
}

// Whether somebody accepts connections at the path `name`: true when a connect succeeds, false
// when it is refused (a socket left by a process that has gone). `error` is set when neither.
bool IsAnswering(const Address& address, const std::string& name, std::string& error) {
  UnixSocket probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!probe.IsOpen()) {
    error = Failure("socket", name);
    return false;
  }
  if (connect(probe.Descriptor(), reinterpret_cast<const sockaddr*>(&address.address),
              address.length) == 0) {
    return true;
  }
  // A full backlog (EAGAIN) is somebody answering too.
  if (errno == EAGAIN) return true;
  if (errno != ECONNREFUSED) error = Failure("connect", name);
  return false;
}

}  // namespace

UnixSocket::UnixSocket(UnixSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UnixSocket& UnixSocket::operator=(UnixSocket&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UnixSocket::~UnixSocket() {
  if (fd_ >= 0) close(fd_);
}

bool UnixSocket::IsValidName(const std::string& name) {
  if (name.empty() || name == "@") return false;
  // A path needs its terminating zero; an abstract name has none but its leading zero byte.
  return name.size() < sizeof(sockaddr_un::sun_path);
}

std::optional<UnixSocket> UnixSocket::Listen(const std::string& name, unsigned mode, bool& busy,
                                             std::string& error) {
  busy = false;
  const auto address = MakeAddress(name);
  if (!address) {
    error = "not a Unix socket name: " + name;
    return std::nullopt;
  }
  UnixSocket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.IsOpen()) {
    error = Failure("socket", name);
    return std::nullopt;
  }
  const bool isPath = name.front() != '@';
  if (isPath) {
    struct stat status {};
    if (lstat(name.c_str(), &status) == 0) {
      if (!S_ISSOCK(status.st_mode)) {
        error = "lstat(" + name + "): something other than a socket is there; left as it is";
        return std::nullopt;
      }
      if (IsAnswering(*address, name, error)) {
        busy = true;
        error = name + " answers: another process listens there; left as it is";
        return std::nullopt;
      }
      if (!error.empty()) return std::nullopt;
      if (unlink(name.c_str()) != 0) {
        error = Failure("unlink", name);
        return std::nullopt;
      }
    }
    if (mode != 0 && fchmod(socket.fd_, static_cast<mode_t>(mode)) != 0) {
      error = Failure("fchmod", name);
      return std::nullopt;
    }
    if (!BindWithoutUmask(socket.fd_, *address, name, error)) return std::nullopt;
  } else if (bind(socket.fd_, reinterpret_cast<const sockaddr*>(&address->address),
                  address->length) != 0) {
    error = Failure("bind", name);
    return std::nullopt;
  }
  if (listen(socket.fd_, SOMAXCONN) != 0) {
    error = Failure("listen", name);
    return std::nullopt;
  }
  return socket;
}

bool UnixSocket::Answers(const std::string& name) {
  const auto address = MakeAddress(name);
  std::string ignored;
  return address && IsAnswering(*address, name, ignored);
}

std::optional<UnixSocket> UnixSocket::Connect(const std::string& name, bool& missing,
                                              std::string& error) {
  missing = false;
  const auto address = MakeAddress(name);
  if (!address) {
    // No endpoint can have this name.
    missing = true;
    error = "not a Unix socket name (" + std::to_string(name.size()) + " bytes)";
    return std::nullopt;
  }
  UnixSocket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.IsOpen()) {
    error = Failure("socket", name);
    return std::nullopt;
  }
  // A Unix stream connect completes at once or fails (EAGAIN when the backlog is full).
  if (connect(socket.fd_, reinterpret_cast<const sockaddr*>(&address->address), address->length) !=
      0) {
    const unsigned long code = LastSystemError();
    missing = code == ENOENT || code == ECONNREFUSED;
    error = SystemCallFailure("connect", name, code);
    return std::nullopt;
  }
  return socket;
}

std::optional<UnixSocket> UnixSocket::Accept(int wakeFd, Deadline deadline,
                                             std::string& error) const {
  error.clear();
  for (;;) {
    switch (Wait(fd_, POLLIN, wakeFd, deadline, error)) {
      case Ready::kWake:
      case Ready::kTimedOut:
      case Ready::kFailed:
        return std::nullopt;
      case Ready::kSocket:
        break;
    }
    UnixSocket client(accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (client.IsOpen()) return client;
    // A client that gave up between the wake-up and the accept is no failure of ours.
    if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) continue;
    error = Failure("accept4", "");
    return std::nullopt;
  }
}

std::optional<UiSender> UnixSocket::Peer(std::string& error) const {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0) {
    error = Failure("getsockopt", "SO_PEERCRED");
    return std::nullopt;
  }
  return UiSender::FromUnixCredentials(static_cast<std::uint32_t>(credentials.uid),
                                       static_cast<std::uint32_t>(credentials.gid),
                                       static_cast<std::uint32_t>(credentials.pid));
}

std::optional<std::uint32_t> UnixSocket::PeerUid(std::string& error) const {
  const auto peer = Peer(error);
  if (!peer) return std::nullopt;
  return peer->uid;
}

bool UnixSocket::WriteAll(std::string_view data, Deadline deadline, std::string& error) const {
  while (!data.empty()) {
    const ssize_t sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN) {
      error = Failure("send", "");
      return false;
    }
    switch (Wait(fd_, POLLOUT, -1, deadline, error)) {
      case Ready::kSocket:
        continue;
      case Ready::kTimedOut:
        error = "send: the reader took none of " + std::to_string(data.size()) +
                " bytes before the deadline";
        return false;
      case Ready::kWake:
      case Ready::kFailed:
        return false;
    }
  }
  return true;
}

bool UnixSocket::ShutdownWrite(std::string& error) const {
  if (shutdown(fd_, SHUT_WR) == 0) return true;
  error = Failure("shutdown", "SHUT_WR");
  return false;
}

UnixSocket::ReadEnd UnixSocket::ReadAll(std::size_t most, int wakeFd, Deadline deadline,
                                        std::string& text, std::string& error) const {
  char buffer[8192];
  for (;;) {
    const std::size_t room = std::min(sizeof buffer, most + 1 - std::min(most + 1, text.size()));
    if (room == 0) return ReadEnd::kTooLong;
    const ssize_t got = read(fd_, buffer, room);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
      if (text.size() > most) return ReadEnd::kTooLong;
      continue;
    }
    if (got == 0) return ReadEnd::kComplete;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      error = Failure("read", "");
      return ReadEnd::kFailed;
    }
    switch (Wait(fd_, POLLIN, wakeFd, deadline, error)) {
      case Ready::kSocket:
        continue;
      case Ready::kWake:
        return ReadEnd::kWoken;
      case Ready::kTimedOut:
        return ReadEnd::kTimedOut;
      case Ready::kFailed:
        return ReadEnd::kFailed;
    }
  }
}

}  // namespace Pellux
