#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <thread>

#include "base/system_error.h"
#include "tools/pelluxctl/browser/browser_opener.h"
#include "tools/pelluxctl/private_folder.h"

namespace Pellux {
namespace {

// A page that sends the browser on to `url` (which needs no escaping: pelluxctl's own address).
std::string Redirect(const std::string& url) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
         "<meta http-equiv=\"refresh\" content=\"0; url=" +
         url + "\"><title>Pellux</title></head>\n<body><p><a href=\"" + url +
         "\">Open the Pellux session</a></p></body></html>\n";
}

}  // namespace

BrowserOpener::~BrowserOpener() {
  if (folder_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

bool BrowserOpener::Open(const std::string& url, std::string& error) {
  if (folder_.empty()) {
    const auto folder = MakePrivateFolder(error);
    if (!folder) return false;
    folder_ = *folder;
  }
  const std::string page = folder_ + "/pellux-ui.html";
  {
    std::ofstream file(page, std::ios::binary | std::ios::trunc);
    file << Redirect(url);
    if (!file.flush()) {
      error = "cannot write " + page;
      return false;
    }
  }
  std::string program = "xdg-open";
  std::string argument = page;
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
      error = "xdg-open " + page + " failed (exit status " +
              std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) +
              ")";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace Pellux
