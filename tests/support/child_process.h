#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sim/reference_server.h"

extern char** environ;

namespace Pellux {

// A helper program (a proxy, a TLS server) that a test runs as its own child: started from its
// arguments, ended and reaped when the object goes, so no process outlives the test.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
    std::vector<char*> pointers;
    for (std::string& argument : arguments_) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    if (posix_spawnp(&child_, arguments_.front().c_str(), nullptr, nullptr, pointers.data(),
                     environ) != 0) {
      child_ = 0;
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (child_ <= 0) return;
    kill(child_, SIGTERM);
    int status = 0;
    waitpid(child_, &status, 0);
  }

  [[nodiscard]] bool Started() const { return child_ > 0; }

  // A loopback port that nothing listens on right now.
  static std::uint16_t FreeLoopbackPort() {
    ReferenceServer probe;
    return probe.Port();
  }

  // Waits up to two seconds until something accepts connections at `port`.
  static bool WaitUntilListening(std::uint16_t port) {
    for (int attempt = 0; attempt < 200; ++attempt) {
      boost::asio::io_context io;
      boost::asio::ip::tcp::socket socket(io);
      boost::system::error_code error;
      socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, error);
      if (!error) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::vector<std::string> arguments_;
  pid_t child_ = 0;
};

}  // namespace Pellux
