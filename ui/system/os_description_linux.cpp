#include "ui/system/os_description_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "base/system_error.h"
#include "ui/system/os_description.h"

namespace Pellux {
namespace {

void Report(const ProblemReporter& report, const std::string& line) {
  if (report) report(line);
}

// The start of a regular file at `path`; nullopt (reported unless missing) when it is none.
std::optional<std::string> ReadStart(const std::string& path, const ProblemReporter& report) {
  // Non-blocking, so that a FIFO put in its place cannot hold the caller.
  const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (file < 0) {
    const unsigned long error = LastSystemError();
    if (error != ENOENT) Report(report, SystemCallFailure("open", path, error));
    return std::nullopt;
  }
  std::optional<std::string> text;
  struct stat status {};
  if (fstat(file, &status) != 0) {
    Report(report, SystemCallFailure("fstat", path, LastSystemError()));
  } else if (!S_ISREG(status.st_mode)) {
    Report(report, path + " is not a regular file; not read");
  } else {
    std::string buffer(OsRelease::kMaxTextBytes, '\0');
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      const ssize_t got = read(file, buffer.data() + filled, buffer.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) Report(report, SystemCallFailure("read", path, LastSystemError()));
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    buffer.resize(filled);
    text = std::move(buffer);
  }
  close(file);
  return text;
}

}  // namespace

std::optional<std::string> ReadOsReleaseText(const std::vector<std::string>& paths,
                                             const ProblemReporter& report) {
  for (const std::string& path : paths) {
    if (std::optional<std::string> text = ReadStart(path, report)) return text;
  }
  return std::nullopt;
}

KernelIdentity ReadKernelIdentity(const ProblemReporter& report) {
  struct utsname names {};
  if (uname(&names) != 0) {
    Report(report, SystemCallFailure("uname", "", LastSystemError()));
    return {};
  }
  return {.release = names.release, .machine = names.machine};
}

std::string GetOsDescription(const ProblemReporter& report) {
  const std::optional<std::string> text = ReadOsReleaseText(kOsReleasePaths, report);
  if (!text) Report(report, "no os-release file could be read; the distribution is unknown");
  return LinuxSystemInfo(OsRelease::Parse(text.value_or("")), ReadKernelIdentity(report))
      .Description();
}

}  // namespace Pellux
