#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace Pellux {

// pellux-sim (or another program that speaks on its standard output line by line) run as a
// child of a test or benchmark: started from its arguments with its standard output on a pipe,
// ended with SIGTERM and reaped when the object goes. Its standard error stays the caller's.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {
    std::array<int, 2> pipe{-1, -1};
    if (::pipe2(pipe.data(), O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::vector<char*> pointers;
    for (std::string& argument : arguments_) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    if (posix_spawn(&child_, arguments_.front().c_str(), &actions, nullptr, pointers.data(),
                    environ) != 0) {
      child_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    out_ = pipe[0];
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() {
    Stop();
    if (out_ >= 0) ::close(out_);
  }

  [[nodiscard]] bool Started() const { return child_ > 0; }

  // The next line of its standard output, without the line end; nothing when none came within
  // `timeout` or the output ended.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const auto end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0 || out_ < 0) return std::nullopt;
      pollfd wait{out_, POLLIN, 0};
      if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
      std::array<char, 512> chunk{};
      const ssize_t got = ::read(out_, chunk.data(), chunk.size());
      if (got <= 0) return std::nullopt;
      buffered_.append(chunk.data(), static_cast<std::size_t>(got));
    }
  }

  // Sends `signal` to it; false when it has already been reaped or the signal was refused.
  bool Signal(int signal) const { return child_ > 0 && ::kill(child_, signal) == 0; }

  // Waits for it to end by itself; its exit status (-1 when a signal ended it).
  int Wait() {
    if (child_ <= 0) return status_;
    int status = 0;
    ::waitpid(child_, &status, 0);
    child_ = 0;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

  // SIGTERM, then waits for it; its exit status (-1 when it did not exit by itself).
  int Stop() {
    if (child_ <= 0) return status_;
    ::kill(child_, SIGTERM);
    int status = 0;
    ::waitpid(child_, &status, 0);
    child_ = 0;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

 private:
  std::vector<std::string> arguments_;
  pid_t child_ = 0;
  int out_ = -1;
  int status_ = -1;
  std::string buffered_;
};

}  // namespace Pellux
