// pelluxctl ui's way to the user's browser on Linux: xdg-open from the PATH, here a stand-in
// that notes the address (and one that fails, and none at all).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/pelluxctl/browser/browser_opener.h"

namespace Pellux {
namespace {

// Runs with PATH set to a folder holding `script` as xdg-open (or nothing), and puts it back.
class PathWithXdgOpen {
 public:
  explicit PathWithXdgOpen(const std::string& script) {
    folder_ =
        std::filesystem::temp_directory_path() / ("pellux-opener-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    if (!script.empty()) std::filesystem::create_symlink(script, folder_ / "xdg-open");
    const char* path = std::getenv("PATH");
    saved_ = path != nullptr ? path : "";
    ::setenv("PATH", folder_.c_str(), 1);
  }
  PathWithXdgOpen(const PathWithXdgOpen&) = delete;
  PathWithXdgOpen& operator=(const PathWithXdgOpen&) = delete;
  ~PathWithXdgOpen() {
    ::setenv("PATH", saved_.c_str(), 1);
    std::filesystem::remove_all(folder_);
  }

 private:
  std::filesystem::path folder_;
  std::string saved_;
};

std::string Log() {
  std::ifstream file(FAKE_BROWSER_LOG);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(BrowserOpenerTest, HandsTheAddressToXdgOpenAndSaysWhenItCannot) {
  std::filesystem::remove(FAKE_BROWSER_LOG);
  const std::string url = "http://127.0.0.1:9/0123456789abcdef0123456789abcdef/";
  {
    PathWithXdgOpen path(FAKE_BROWSER);
    std::string error;
    EXPECT_TRUE(OpenInBrowser(url, error)) << error;
  }
  EXPECT_EQ(Log(), url + "\n");
  {
    PathWithXdgOpen path(FAILING_BROWSER);
    std::string error;
    EXPECT_FALSE(OpenInBrowser(url, error));
    EXPECT_EQ(error, "xdg-open " + url + " failed (exit status 3)");
  }
  {
    PathWithXdgOpen path("");
    std::string error;
    EXPECT_FALSE(OpenInBrowser(url, error));
    EXPECT_EQ(error.rfind("posix_spawnp(xdg-open) failed: errno 2 (No such file or directory)", 0),
              0U)
        << error;
  }
}

}  // namespace
}  // namespace Pellux
