#include <stdlib.h>

#include <filesystem>
#include <system_error>

#include "base/system_error.h"
#include "tools/pelluxctl/private_folder.h"

namespace Pellux {

std::optional<std::string> MakePrivateFolder(std::string& error) {
  std::error_code noTemp;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(noTemp);
  std::string pattern =
      ((noTemp ? std::filesystem::path("/tmp") : temp) / "pelluxctl-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    error = SystemCallFailure("mkdtemp", pattern, LastSystemError());
    return std::nullopt;
  }
  return pattern;
}

}  // namespace Pellux
