#pragma once

#include <string>

#include "ui/log/log_folder.h"

namespace Pellux {

// The activity log's folder on Linux: a directory (mode 0750) holding files of mode 0640.
class DirectoryLogFolder final : public LogFolder {
 public:
  // `path` is the folder itself; it must be absolute, or Locate fails.
  explicit DirectoryLogFolder(std::string path);

  bool Locate(std::string& path, FolderFailure& failure) override;
  bool Create(FolderFailure& failure) override;
  bool List(std::vector<Entry>& files, FolderFailure& failure) override;
  bool Remove(const std::string& path, FolderFailure& failure) override;
  CreateResult CreateNew(const std::string& name, std::unique_ptr<LogFile>& file, std::string& path,
                         FolderFailure& failure) override;

 private:
  const std::string path_;
};

// A log file over an open descriptor, which it owns and closes. Every Append is write(2)
// calls on it, with no buffer of ours in between.
class DescriptorLogFile final : public LogFile {
 public:
  // `path` names the file in failure lines.
  DescriptorLogFile(int descriptor, std::string path);
  ~DescriptorLogFile() override;

  bool Append(const std::string& bytes, FolderFailure& failure) override;

 private:
  const int descriptor_;
  const std::string path_;
};

// The daemon's log folder: the first of the directories systemd names in `logsDirectory`
// ($LOGS_DIRECTORY, a colon-separated list, set by LogsDirectory= in the unit) when it is set
// and not empty, else "/var/log/pellux".
std::string DefaultLogFolderPath(const char* logsDirectory);

}  // namespace Pellux
