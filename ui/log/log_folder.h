#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace Pellux {

// What a failed call of the system said: its code (errno or GetLastError) and the whole line
// for the debug output, made by SystemCallFailure.
struct FolderFailure {
  unsigned long code = 0;
  std::string line;
};

// One open activity log file. Only the activity log uses it, with its lock held.
class LogFile {
 public:
  LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  // Closes the file.
  virtual ~LogFile() = default;

  // Appends `bytes` with one write that reaches the system before returning (nothing is kept
  // in a buffer of ours), going on after a short write. False, with `failure` set, when the
  // bytes could not all be written (a full disk, a lost volume).
  virtual bool Append(const std::string& bytes, FolderFailure& failure) = 0;
};

// The folder that holds the activity log files, and the files in it: the all-users application
// data folder on Windows, the daemon's logs directory on Linux, memory in tests. Every method is
// called by the activity log with its lock held, from whichever thread wrote the line; a
// backend needs no lock of its own and never calls back into the log.
class LogFolder {
 public:
  // One file whose name matches "log-*.txt".
  struct Entry {
    std::string path;
    std::chrono::system_clock::time_point created;
  };

  enum class CreateResult { kCreated, kNameTaken, kFailed };

  LogFolder() = default;
  LogFolder(const LogFolder&) = delete;
  LogFolder& operator=(const LogFolder&) = delete;
  virtual ~LogFolder() = default;

  // Finds the folder's full path without creating it. False, with `failure` set, when the
  // place it lives in cannot be found.
  virtual bool Locate(std::string& path, FolderFailure& failure) = 0;
  // Creates the folder and any missing parents; a folder already there counts as success.
  virtual bool Create(FolderFailure& failure) = 0;
  // Puts every regular file named "log-*.txt" into `files`, with its creation time (or, where
  // the file system keeps none, its last status change). A missing folder lists nothing and is
  // no failure. False, with `failure` set, when the listing broke off; `files` then holds what
  // was found before.
  virtual bool List(std::vector<Entry>& files, FolderFailure& failure) = 0;
  // Deletes one file found by List.
  virtual bool Remove(const std::string& path, FolderFailure& failure) = 0;
  // Creates the file `name` in the folder, only if no file of that name exists: an existing
  // file is never replaced nor appended to (kNameTaken). On kCreated, `file` is open for
  // writing and `path` holds its full path; on kFailed, `failure` says why.
  virtual CreateResult CreateNew(const std::string& name, std::unique_ptr<LogFile>& file,
                                 std::string& path, FolderFailure& failure) = 0;

  // The folder of this platform: under the all-users application data folder on Windows, the
  // daemon's logs directory on Linux.
  static std::unique_ptr<LogFolder> CreateForPlatform();
};

}  // namespace Pellux
