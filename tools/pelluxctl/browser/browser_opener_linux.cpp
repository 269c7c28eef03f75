#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/system_error.h"
#include "tools/pelluxctl/browser/browser_opener.h"

namespace Pellux {

bool OpenInBrowser(const std::string& url, std::string& error) {
  std::string program = "xdg-open";
  std::string argument = url;
  char* arguments[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  if (const int code = posix_spawnp(&child, "xdg-open", nullptr, nullptr, arguments, environ);
      code != 0) {
    error = SystemCallFailure("posix_spawnp", "xdg-open", static_cast<unsigned long>(code));
    return false;
  }
  // xdg-open says soon when it finds no browser; it may also stay with the browser it started,
  // which is then left to run (its end leaves a zombie that goes with pelluxctl).
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < until) {
    int status = 0;
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended < 0) {
      error = SystemCallFailure("waitpid", "xdg-open", LastSystemError());
      return false;
    }
    if (ended == child) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
      error = "xdg-open " + url + " failed (exit status " +
              std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
              ")";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace Pellux
