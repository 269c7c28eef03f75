#include "demo/child_program_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "base/system_error.h"

namespace Pellux {

ChildProgram::ChildProgram(std::vector<std::string> arguments,
                           const std::vector<std::pair<std::string, std::string>>& environment) {
  std::array<int, 2> out{-1, -1};
  std::array<int, 2> err{-1, -1};
  if (pipe2(out.data(), O_CLOEXEC) != 0 || pipe2(err.data(), O_CLOEXEC) != 0) {
    error_ = SystemCallFailure("pipe2", arguments.front(), LastSystemError());
    return;
  }
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text(*variable);
    bool replaced = false;
    for (const auto& [name, value] : environment) replaced |= text.rfind(name + "=", 0) == 0;
    if (!replaced) variables.push_back(text);
  }
  for (const auto& [name, value] : environment) {
    std::string variable = name;
    variable += '=';
    variable += value;
    variables.push_back(std::move(variable));
  }
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(variables.size() + 1);
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  const int spawned = posix_spawn(&child_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  out_.fd = out[0];
  err_.fd = err[0];
  if (spawned != 0) {
    child_ = 0;
    error_ =
        SystemCallFailure("posix_spawn", arguments.front(), static_cast<unsigned long>(spawned));
  }
}

ChildProgram::~ChildProgram() {
  Stop();
  for (Pipe* pipe : {&out_, &err_}) {
    if (pipe->fd >= 0) close(pipe->fd);
  }
}

std::optional<std::string> ChildProgram::ReadLine(Stream stream,
                                                  std::chrono::milliseconds timeout) {
  Pipe& pipe = Of(stream);
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (const auto end = pipe.buffered.find('\n'); end != std::string::npos) {
      std::string line = pipe.buffered.substr(0, end);
      pipe.buffered.erase(0, end + 1);
      return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0 || pipe.fd < 0) return std::nullopt;
    pollfd wait{pipe.fd, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
    std::array<char, 4096> chunk{};
    const ssize_t got = read(pipe.fd, chunk.data(), chunk.size());
    if (got <= 0) {
      if (pipe.buffered.empty()) return std::nullopt;
      return std::exchange(pipe.buffered, {});
    }
    pipe.buffered.append(chunk.data(), static_cast<std::size_t>(got));
  }
}

int ChildProgram::Stop() {
  if (child_ <= 0) return status_;
  kill(child_, SIGTERM);
  int status = 0;
  waitpid(child_, &status, 0);
  child_ = 0;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

}  // namespace Pellux
