#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "tests/support/linux_side_fetch.h"

namespace Pellux {

std::optional<std::string> FetchFromLinuxSide(const std::string& url) {
  const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                    ("pellux-fetch-" + std::to_string(getpid()) + ".out");
  std::filesystem::remove(out);
  std::string program = "/usr/bin/python3";
  std::string flag = "-c";
  std::string script = kLinuxSideFetchScript;
  std::string target = url;
  std::string outPath = out.string();
  char* arguments[] = {program.data(), flag.data(),    script.data(),
                       target.data(),  outPath.data(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, arguments, environ) != 0) {
    std::cerr << "cannot start " << program << "\n";
    return std::nullopt;
  }
  int status = 0;
  waitpid(child, &status, 0);
  return TakeFetchAnswer(out, program + " gave nothing (status " + std::to_string(status) + ")");
}

}  // namespace Pellux
