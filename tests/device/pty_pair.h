#pragma once

// A pseudo-terminal for the tty transport's tests: the test holds the master (the far end, the
// "device"), the transport opens the slave by its path. Uses the kernel's termios2, so it must
// not meet glibc's <termios.h> in one file.

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pellux {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    std::array<char, 128> name{};
    if (::ptsname_r(master_, name.data(), name.size()) != 0) return;
    path_ = name.data();
    // Raw from the start (a master's termios calls reach its slave): no echo of what the far
    // end sends before the transport sets the line up itself.
    struct termios2 settings {};
    if (::ioctl(master_, TCGETS2, &settings) == 0) {
      settings.c_iflag = 0;
      settings.c_oflag = 0;
      settings.c_lflag = 0;
      ::ioctl(master_, TCSETS2, &settings);
    }
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
  ~PtyPair() { CloseMaster(); }

  [[nodiscard]] bool Ready() const { return master_ >= 0 && !path_.empty(); }
  [[nodiscard]] const std::string& SlavePath() const { return path_; }
  [[nodiscard]] int Master() const { return master_; }

  // The far end goes away: the slave hangs up and its path disappears.
  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  bool Send(const std::vector<std::uint8_t>& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      done += static_cast<std::size_t>(written);
    }
    return true;
  }

  // Up to `count` bytes, waiting `timeout` at most for all of them.
  std::vector<std::uint8_t> Receive(std::size_t count, std::chrono::milliseconds timeout) const {
    std::vector<std::uint8_t> got;
    const auto until = std::chrono::steady_clock::now() + timeout;
    std::array<std::uint8_t, 4096> buffer{};
    while (got.size() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd wait{master_, POLLIN, 0};
      if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = ::read(master_, buffer.data(), std::min(buffer.size(), count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    return got;
  }

  // The slave's line settings as the transport left them.
  [[nodiscard]] std::optional<struct termios2> SlaveSettings() const {
    struct termios2 settings {};
    if (::ioctl(master_, TCGETS2, &settings) != 0) return std::nullopt;
    return settings;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace Pellux
