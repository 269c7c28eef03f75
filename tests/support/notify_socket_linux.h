#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/waited_texts.h"

namespace Pellux {

// A notify socket as systemd holds it, in NOTIFY_SOCKET for the daemon.
class NotifySocket {
 public:
  NotifySocket() {
    char pattern[] = "/tmp/pellux-notify-XXXXXX";
    folder_ = mkdtemp(pattern);
    descriptor_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder_ + "/notify";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
    reader_ = std::thread([this] {
      char datagram[4096];
      for (;;) {
        const ssize_t size = recv(descriptor_, datagram, sizeof datagram, 0);
        if (size <= 0) return;
        const std::string text(datagram, static_cast<std::size_t>(size));
        if (text == "end") return;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
          received.Add(text.substr(start, end - start));
        }
        if (start < text.size()) received.Add(text.substr(start));
      }
    });
  }
  ~NotifySocket() {
    const int writer = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    (folder_ + "/notify").copy(address.sun_path, sizeof address.sun_path - 1);
    sendto(writer, "end", 3, 0, reinterpret_cast<sockaddr*>(&address), sizeof address);
    close(writer);
    reader_.join();
    close(descriptor_);
    unsetenv("NOTIFY_SOCKET");
    std::filesystem::remove_all(folder_);
  }
  std::size_t Count(const std::string& line) const {
    const auto all = received.All();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), line));
  }
  Messages received;

 private:
  std::string folder_;
  int descriptor_ = -1;
  std::thread reader_;
};

}  // namespace Pellux
