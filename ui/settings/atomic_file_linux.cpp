#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include "base/system_error.h"
#include "ui/settings/atomic_file.h"

namespace Pellux {
namespace {

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes all of `contents`, going on after short writes and interrupted calls. Returns 0 or the
// errno of the write that failed.
int WriteAll(int fd, const std::string& contents) {
  const char* next = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    const ssize_t written = write(fd, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;  // A regular file never takes nothing; do not spin on it.
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return 0;
}

int SyncDescriptor(int fd) {
  while (fsync(fd) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, const std::string& contents,
                           std::string& error) {
  error.clear();
  // mkostemp fills in the X's and creates the file with mode 0600 and O_EXCL, so two writers
  // (or a leftover from a crash) never share a temporary file.
  const std::string pattern = path + ".tmp-XXXXXX";
  std::vector<char> temporary(pattern.begin(), pattern.end());
  temporary.push_back('\0');
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = SystemCallFailure("mkostemp", pattern, errno);
    return false;
  }
  const std::string temporaryPath(temporary.data());
  int directoryFd = -1;
  const auto fail = [&](const std::string& call, const std::string& subject, int code) {
    if (fd >= 0) close(fd);
    if (directoryFd >= 0) close(directoryFd);
    unlink(temporaryPath.c_str());
    error = SystemCallFailure(call, subject, code);
    return false;
  };

  // An administrator may have opened the file to a group on purpose: keep what is there.
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0) {
    if (fchmod(fd, existing.st_mode & 07777) != 0) return fail("fchmod", temporaryPath, errno);
  } else if (errno != ENOENT) {
    return fail("stat", path, errno);
  }

  if (const int code = WriteAll(fd, contents); code != 0) {
    return fail("write", temporaryPath, code);
  }
  if (const int code = SyncDescriptor(fd); code != 0) return fail("fsync", temporaryPath, code);
  const int closed = close(fd);
  fd = -1;
  // After a successful fsync an EINTR from close loses nothing; anything else might have.
  if (closed != 0 && errno != EINTR) return fail("close", temporaryPath, errno);

  // Opened before the rename, so that a directory we cannot open stops us while the old file
  // is still in place.
  const std::string directory = DirectoryOf(path);
  directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd < 0) return fail("open", directory, errno);

  if (rename(temporaryPath.c_str(), path.c_str()) != 0) {
    return fail("rename", temporaryPath + ", " + path, errno);
  }
  // The new contents are in place from here on; only their survival of a crash is in question.
  if (const int code = SyncDescriptor(directoryFd); code != 0) {
    error = SystemCallFailure("fsync", directory, code);
  }
  close(directoryFd);
  return true;
}

FileReadResult ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents,
                             std::string& error) {
  contents.clear();
  error.clear();
  // O_NONBLOCK: a pipe put in place of the file must not hang the service in open().
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return FileReadResult::kMissing;
    error = SystemCallFailure("open", path, errno);
    return FileReadResult::kFailed;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    error = SystemCallFailure("fstat", path, errno);
    close(fd);
    return FileReadResult::kFailed;
  }
  if (!S_ISREG(status.st_mode)) {
    error = "open(" + path + ") found no regular file";
    close(fd);
    return FileReadResult::kFailed;
  }
  std::array<char, 16384> buffer{};
  while (contents.size() <= maxBytes) {
    const std::size_t wanted = std::min(buffer.size(), maxBytes + 1 - contents.size());
    const ssize_t got = read(fd, buffer.data(), wanted);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = SystemCallFailure("read", path, errno);
      close(fd);
      contents.clear();
      return FileReadResult::kFailed;
    }
    if (got == 0) break;
    contents.append(buffer.data(), static_cast<std::size_t>(got));
  }
  close(fd);
  return FileReadResult::kRead;
}

}  // namespace Pellux
