#include <cstdlib>
#include <memory>

#include "ui/log/directory_log_folder_linux.h"
#include "ui/log/log_folder.h"

namespace Pellux {

std::unique_ptr<LogFolder> LogFolder::CreateForPlatform() {
  // Read once, before the daemon starts its threads; nothing in the daemon changes it.
  return std::make_unique<DirectoryLogFolder>(DefaultLogFolderPath(std::getenv("LOGS_DIRECTORY")));
}

}  // namespace Pellux
