#pragma once

#include <string>

#include "ui/log/log_folder.h"

namespace Pellux {

// The activity log's folder on Windows: "Pellux\Tracker\logs" in the all-users application
// data folder (ProgramData).
class AppDataLogFolder final : public LogFolder {
 public:
  // With an empty `baseFolder` the folder lives in the all-users application data folder, found
  // anew at each call as the shell reports it; tests give a folder of their own instead.
  explicit AppDataLogFolder(std::string baseFolder = "");

  bool Locate(std::string& path, FolderFailure& failure) override;
  bool Create(FolderFailure& failure) override;
  bool List(std::vector<Entry>& files, FolderFailure& failure) override;
  bool Remove(const std::string& path, FolderFailure& failure) override;
  CreateResult CreateNew(const std::string& name, std::unique_ptr<LogFile>& file, std::string& path,
                         FolderFailure& failure) override;

  // The path of the log folder below `baseFolder`.
  static std::string LogFolderBelow(const std::string& baseFolder);

 private:
  const std::string baseFolder_;
};

}  // namespace Pellux
