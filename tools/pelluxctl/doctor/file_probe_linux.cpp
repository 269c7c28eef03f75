// The file probe of Linux: stat(2), read(2) and statvfs(3).

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <string>

#include "base/system_error.h"
#include "tools/pelluxctl/doctor/file_probe.h"

namespace Pellux {
namespace {

// Closes a descriptor when it goes out of scope.
struct OpenFile {
  int fd;
  explicit OpenFile(int descriptor) : fd(descriptor) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

class LinuxFileProbe final : public FileProbe {
 public:
  FileFacts Status(const std::string& path) override {
    FileFacts facts;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
      const unsigned long code = LastSystemError();
      if (code == ENOENT || code == ENOTDIR) {
        facts.state = FileFacts::State::kMissing;
      } else {
        facts.error = SystemCallFailure("stat", path, code);
      }
      return facts;
    }
    facts.state = FileFacts::State::kPresent;
    facts.owner = status.st_uid;
    facts.group = status.st_gid;
    facts.mode = status.st_mode & 07777U;
    facts.regular = S_ISREG(status.st_mode);
    facts.characterDevice = S_ISCHR(status.st_mode);
    if (facts.characterDevice) {
      facts.major = ::major(status.st_rdev);
      facts.minor = ::minor(status.st_rdev);
    }
    return facts;
  }

  FileText Read(const std::string& path, std::size_t maxBytes) override {
    FileText file;
    // Non-blocking, so that a FIFO put in the file's place cannot hold the doctor up.
    const OpenFile opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    const int fd = opened.fd;
    if (fd < 0) {
      const unsigned long code = LastSystemError();
      if (code == ENOENT || code == ENOTDIR) {
        file.state = FileText::State::kMissing;
      } else {
        file.denied = code == EACCES || code == EPERM;
        file.error = SystemCallFailure("open", path, code);
      }
      return file;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
      file.error = SystemCallFailure("fstat", path, LastSystemError());
      return file;
    }
    if (!S_ISREG(status.st_mode)) {
      file.error = path + " is no regular file";
      return file;
    }
    std::array<char, 8192> chunk{};
    for (;;) {
      const ssize_t got = ::read(fd, chunk.data(), chunk.size());
      if (got < 0) {
        if (LastSystemError() == EINTR) continue;
        file.error = SystemCallFailure("read", path, LastSystemError());
        file.text.clear();
        return file;
      }
      if (got == 0) break;
      file.text.append(chunk.data(), static_cast<std::size_t>(got));
      if (file.text.size() > maxBytes) {
        file.state = FileText::State::kTooLarge;
        file.text.clear();
        return file;
      }
    }
    file.state = FileText::State::kRead;
    return file;
  }

  SpaceFacts Space(const std::string& path) override {
    SpaceFacts space;
    struct statvfs status {};
    if (::statvfs(path.c_str(), &status) != 0) {
      space.error = SystemCallFailure("statvfs", path, LastSystemError());
      return space;
    }
    space.measured = true;
    space.available = static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
    space.total = static_cast<std::uint64_t>(status.f_blocks) * status.f_frsize;
    return space;
  }
};

}  // namespace

std::unique_ptr<FileProbe> FileProbe::CreateForPlatform() {
  return std::make_unique<LinuxFileProbe>();
}

}  // namespace Pellux
