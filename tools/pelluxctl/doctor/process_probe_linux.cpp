// The process probe of Linux: /proc, each process's "comm", "cmdline" and open descriptors.

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/system_error.h"
#include "tools/pelluxctl/doctor/process_probe.h"

namespace Pellux {
namespace {

constexpr const char* kProc = "/proc";
// A command line is shown, not kept: its first few kilobytes are enough.
constexpr std::size_t kMaxCommandBytes = 4096;

struct DirectoryCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

// Up to `maxBytes` of a small /proc file; empty when it cannot be read (the process ended).
std::string ReadSmall(const std::string& path, std::size_t maxBytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  std::array<char, 1024> chunk{};
  while (text.size() < maxBytes) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got <= 0) break;
    text.append(chunk.data(), static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (text.size() > maxBytes) text.resize(maxBytes);
  return text;
}

std::optional<std::int64_t> ProcessId(const char* name) {
  const std::string_view digits(name);
  std::int64_t pid = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || pid <= 0) {
    return std::nullopt;
  }
  return pid;
}

ProcessFacts Describe(std::int64_t pid, const std::string& folder) {
  ProcessFacts facts;
  facts.pid = pid;
  facts.name = ReadSmall(folder + "/comm", kMaxCommandBytes);
  if (!facts.name.empty() && facts.name.back() == '\n') facts.name.pop_back();
  facts.command = ReadSmall(folder + "/cmdline", kMaxCommandBytes);
  while (!facts.command.empty() && facts.command.back() == '\0') facts.command.pop_back();
  std::ranges::replace(facts.command, '\0', ' ');
  // A kernel thread has no command line.
  if (facts.command.empty()) facts.command = "[" + facts.name + "]";
  return facts;
}

// Calls `visit(pid, folder)` for every process in /proc.
bool EachProcess(ProcessListing& listing,
                 const std::function<void(std::int64_t, const std::string&)>& visit) {
  const Directory proc(::opendir(kProc));
  if (!proc) {
    listing.error = SystemCallFailure("opendir", kProc, LastSystemError());
    return false;
  }
  while (const dirent* entry = ::readdir(proc.get())) {
    const auto pid = ProcessId(entry->d_name);
    if (!pid) continue;
    visit(*pid, std::string(kProc) + "/" + entry->d_name);
  }
  listing.listed = true;
  return true;
}

// The device a port's node stands for. A pseudo-terminal's number is that of its devpts
// instance only (a container's console may have the same number as a host terminal), so a
// pseudo-terminal is the very inode; any other device is any node with its numbers.
struct PortIdentity {
  dev_t device = 0;
  dev_t filesystem = 0;
  ino_t inode = 0;
  bool pseudoTerminal = false;

  [[nodiscard]] bool Is(const struct stat& status) const {
    if (!S_ISCHR(status.st_mode) || status.st_rdev != device) return false;
    return !pseudoTerminal || (status.st_dev == filesystem && status.st_ino == inode);
  }
};

// Whether the process in `folder` holds `port` open; nullopt, with `error` set, when its
// descriptors cannot be looked into.
std::optional<bool> Holds(const std::string& folder, const PortIdentity& port, std::string& error) {
  const std::string descriptors = folder + "/fd";
  const Directory fds(::opendir(descriptors.c_str()));
  if (!fds) {
    const unsigned long code = LastSystemError();
    // Ended while we looked: it holds nothing.
    if (code == ENOENT || code == ESRCH) return false;
    error = SystemCallFailure("opendir", descriptors, code);
    return std::nullopt;
  }
  while (const dirent* entry = ::readdir(fds.get())) {
    if (entry->d_name[0] == '.') continue;
    struct stat status {};
    if (::stat((descriptors + "/" + entry->d_name).c_str(), &status) != 0) continue;
    if (port.Is(status)) return true;
  }
  return false;
}

class ProcProcessProbe final : public ProcessProbe {
 public:
  ProcessListing Holders(const std::string& node) override {
    ProcessListing listing;
    struct stat status {};
    struct statfs filesystem {};
    if (::stat(node.c_str(), &status) != 0) {
      listing.error = SystemCallFailure("stat", node, LastSystemError());
      return listing;
    }
    if (::statfs(node.c_str(), &filesystem) != 0) {
      listing.error = SystemCallFailure("statfs", node, LastSystemError());
      return listing;
    }
    if (!S_ISCHR(status.st_mode)) {
      listing.error = node + " is no character device";
      return listing;
    }
    const PortIdentity port{status.st_rdev, status.st_dev, status.st_ino,
                            filesystem.f_type == DEVPTS_SUPER_MAGIC};
    EachProcess(listing, [&](std::int64_t pid, const std::string& folder) {
      std::string error;
      const auto holds = Holds(folder, port, error);
      if (!holds) {
        if (listing.hidden++ == 0) listing.hiddenError = error;
      } else if (*holds) {
        listing.processes.push_back(Describe(pid, folder));
      }
    });
    return listing;
  }

  ProcessListing Named(const std::string& name) override {
    ProcessListing listing;
    EachProcess(listing, [&](std::int64_t pid, const std::string& folder) {
      std::string comm = ReadSmall(folder + "/comm", kMaxCommandBytes);
      if (!comm.empty() && comm.back() == '\n') comm.pop_back();
      if (comm == name) listing.processes.push_back(Describe(pid, folder));
    });
    return listing;
  }
};

}  // namespace

std::unique_ptr<ProcessProbe> ProcessProbe::CreateForPlatform() {
  return std::make_unique<ProcProcessProbe>();
}

}  // namespace Pellux
