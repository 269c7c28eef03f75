#include "sim/pty_endpoint_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "base/system_error.h"

namespace Pellux {

PtyEndpoint::PtyEndpoint() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0) {
    error_ = SystemCallFailure("posix_openpt", "", LastSystemError());
    return;
  }
  std::array<char, 128> name{};
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name.data(), name.size()) != 0) {
    error_ = SystemCallFailure("unlockpt", "", LastSystemError());
    ::close(master);
    return;
  }
  const int slave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave < 0) {
    error_ = SystemCallFailure("open", name.data(), LastSystemError());
    ::close(master);
    return;
  }
  // Raw from the start: a cooked slave would echo the station's bytes back to it.
  termios settings{};
  if (::tcgetattr(slave, &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
  }
  master_ = master;
  slave_ = slave;
  slavePath_ = name.data();
}

PtyEndpoint::~PtyEndpoint() {
  Close();
}

std::size_t PtyEndpoint::Write(const std::uint8_t* data, std::size_t size,
                               std::chrono::milliseconds patience) {
  std::lock_guard guard(writeMutex_);
  if (master_ < 0) return 0;
  const auto until = std::chrono::steady_clock::now() + patience;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t written = ::write(master_, data + done, size - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN) break;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd wait{master_, POLLOUT, 0};
    ::poll(&wait, 1, static_cast<int>(left.count()));
  }
  return done;
}

std::vector<std::uint8_t> PtyEndpoint::Read() const {
  std::vector<std::uint8_t> bytes;
  if (master_ < 0) return bytes;
  std::array<std::uint8_t, 4096> buffer{};
  for (;;) {
    const ssize_t got = ::read(master_, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
  }
  return bytes;
}

void PtyEndpoint::Close() {
  std::lock_guard guard(writeMutex_);
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

}  // namespace Pellux
