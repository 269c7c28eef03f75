#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace Pellux {

// A folder of its own below the system's temporary folder, removed with everything in it. Made
// at once when `make` is true; otherwise only its name is taken (the code under test makes it).
class TempFolder {
 public:
  explicit TempFolder(bool make = false) {
    std::random_device random;
    std::ostringstream name;
    name << "pellux-log-" << std::hex << random() << random();
    root_ = std::filesystem::temp_directory_path() / name.str();
    if (make) std::filesystem::create_directories(root_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  [[nodiscard]] const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace Pellux
