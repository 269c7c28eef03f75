#include <windows.h>

#include <filesystem>
#include <random>
#include <system_error>

#include "base/system_error.h"
#include "tools/pelluxctl/private_folder.h"

namespace Pellux {

std::optional<std::string> MakePrivateFolder(std::string& error) {
  std::error_code noTemp;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(noTemp);
  if (noTemp) {
    error = "GetTempPath failed: " + noTemp.message();
    return std::nullopt;
  }
  std::random_device random;
  // CreateDirectoryW makes a folder that is not there yet or fails: a name someone else took
  // first is passed over for another.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::filesystem::path folder = temp / ("pelluxctl-" + std::to_string(random()));
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder.string();
    const unsigned long code = LastSystemError();
    if (code != ERROR_ALREADY_EXISTS) {
      error = SystemCallFailure("CreateDirectoryW", folder.string(), code);
      return std::nullopt;
    }
  }
  error = "CreateDirectoryW failed: every name tried in " + temp.string() + " was taken";
  return std::nullopt;
}

}  // namespace Pellux
