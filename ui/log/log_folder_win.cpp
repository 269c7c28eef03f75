#include <memory>

#include "ui/log/app_data_log_folder_win.h"
#include "ui/log/log_folder.h"

namespace Pellux {

std::unique_ptr<LogFolder> LogFolder::CreateForPlatform() {
  return std::make_unique<AppDataLogFolder>();
}

}  // namespace Pellux
