#include "ui/log/directory_log_folder_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr mode_t kFolderMode = 0750;
constexpr mode_t kFileMode = 0640;

FolderFailure Failed(const char* call, const std::string& subject, int code) {
  return {static_cast<unsigned long>(code), SystemCallFailure(call, subject, code)};
}

std::chrono::system_clock::time_point TimeOf(const struct statx_timestamp& stamp) {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
}

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

DirectoryLogFolder::DirectoryLogFolder(std::string path) : path_(std::move(path)) {}

bool DirectoryLogFolder::Locate(std::string& path, FolderFailure& failure) {
  // A relative folder would depend on the daemon's working directory: refused, not guessed.
  if (path_.empty() || path_.front() != '/') {
    failure = {EINVAL, "log folder '" + path_ + "' is not an absolute path"};
    return false;
  }
  path = path_;
  return true;
}

bool DirectoryLogFolder::Create(FolderFailure& failure) {
  std::string located;
  if (!Locate(located, failure)) return false;
  // Each missing parent in turn, as "mkdir -p" does; one that is there already is fine.
  for (std::size_t slash = located.find('/', 1);; slash = located.find('/', slash + 1)) {
    const std::string part = located.substr(0, slash);
    if (mkdir(part.c_str(), kFolderMode) != 0 && errno != EEXIST) {
      const int code = errno;
      // Not allowed to create a parent that exists all the same (EACCES on "/var") is no fault.
      if (!IsDirectory(part)) {
        failure = Failed("mkdir", part, code);
        return false;
      }
    }
    if (slash == std::string::npos) return true;
  }
}

bool DirectoryLogFolder::List(std::vector<Entry>& files, FolderFailure& failure) {
  std::string located;
  if (!Locate(located, failure)) return false;
  DIR* folder = opendir(located.c_str());
  if (folder == nullptr) {
    if (errno == ENOENT) return true;
    failure = Failed("opendir", located, errno);
    return false;
  }
  bool complete = true;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) {
      if (errno != 0) {
        failure = Failed("readdir", located, errno);
        complete = false;
      }
      break;
    }
    if (fnmatch("log-*.txt", entry->d_name, 0) != 0) continue;
    // Not following links: a link named like a log file is not one of ours to judge.
    struct statx status {};
    if (statx(dirfd(folder), entry->d_name, AT_SYMLINK_NOFOLLOW,
              STATX_TYPE | STATX_BTIME | STATX_CTIME, &status) != 0) {
      if (errno == ENOENT) continue;  // Deleted since readdir saw it.
      failure = Failed("statx", located + "/" + entry->d_name, errno);
      complete = false;
      break;
    }
    if (!S_ISREG(status.stx_mode)) continue;
    // The birth time where the file system keeps one (ext4, xfs, btrfs, tmpfs since Linux
    // 5.18); elsewhere the last status change, which for a log file we only ever appended to
    // is its last line.
    const bool born = (status.stx_mask & STATX_BTIME) != 0;
    files.push_back(
        {located + "/" + entry->d_name, TimeOf(born ? status.stx_btime : status.stx_ctime)});
  }
  closedir(folder);
  return complete;
}

bool DirectoryLogFolder::Remove(const std::string& path, FolderFailure& failure) {
  if (unlink(path.c_str()) == 0) return true;
  failure = Failed("unlink", path, errno);
  return false;
}

LogFolder::CreateResult DirectoryLogFolder::CreateNew(const std::string& name,
                                                      std::unique_ptr<LogFile>& file,
                                                      std::string& path, FolderFailure& failure) {
  std::string located;
  if (!Locate(located, failure)) return CreateResult::kFailed;
  const std::string full = located + "/" + name;
  // O_EXCL: never replace nor write into a file already there. O_APPEND: lines go to the end
  // even if someone else writes to the file.
  const int descriptor =
      open(full.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOCTTY, kFileMode);
  if (descriptor < 0) {
    if (errno == EEXIST) return CreateResult::kNameTaken;
    failure = Failed("open", full, errno);
    return CreateResult::kFailed;
  }
  file = std::make_unique<DescriptorLogFile>(descriptor, full);
  path = full;
  return CreateResult::kCreated;
}

DescriptorLogFile::DescriptorLogFile(int descriptor, std::string path)
    : descriptor_(descriptor), path_(std::move(path)) {}

DescriptorLogFile::~DescriptorLogFile() {
  close(descriptor_);
}

bool DescriptorLogFile::Append(const std::string& bytes, FolderFailure& failure) {
  const char* next = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = write(descriptor_, next, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      failure = Failed("write", path_, errno);
      return false;
    }
    if (written == 0) {
      // A file that takes nothing would spin us forever.
      failure = Failed("write", path_, EIO);
      return false;
    }
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

std::string DefaultLogFolderPath(const char* logsDirectory) {
  if (logsDirectory == nullptr || *logsDirectory == '\0') return "/var/log/pellux";
  const std::string all(logsDirectory);
  return all.substr(0, all.find(':'));
}

}  // namespace Pellux
