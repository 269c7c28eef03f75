// pelluxctl ui's way to the user's browser on Linux: xdg-open from the PATH, here a stand-in
// that notes what it is given (and one that fails, and none at all). The address, token and
// all, is never on a command line: xdg-open gets a file that only the user can read.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/pelluxctl/browser/browser_opener.h"

namespace Pellux {
namespace {

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

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

std::string Read(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

// The errno with which the user nobody fails to open `path`; 0 when it could.
int ErrnoOfNobodyOpening(const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(255);
    const int fd = open(path.c_str(), O_RDONLY);
    _exit(fd >= 0 ? 0 : errno);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BrowserOpenerTest, GivesXdgOpenAPrivateFileThatLeadsToTheAddress) {
  std::filesystem::remove(FAKE_BROWSER_LOG);
  const std::string url = std::string("http://127.0.0.1:9/") + kToken + "/";
  std::string given;
  {
    BrowserOpener opener;
    {
      PathWithXdgOpen path(FAKE_BROWSER);
      std::string error;
      EXPECT_TRUE(opener.Open(url, error)) << error;
    }
    given = Read(FAKE_BROWSER_LOG);
    ASSERT_FALSE(given.empty());
    given.pop_back();
    EXPECT_EQ(given.find(kToken), std::string::npos) << given;
    const std::string page = Read(given);
    EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"0; url=" + url + "\">"),
              std::string::npos)
        << page;
    struct stat folder {};
    ASSERT_EQ(stat(std::filesystem::path(given).parent_path().c_str(), &folder), 0);
    EXPECT_EQ(folder.st_mode & 0777, 0700U);
    // Another user (the tests run as root, which can be one) cannot read it.
    if (geteuid() == 0) {
      EXPECT_EQ(ErrnoOfNobodyOpening(given), EACCES);
    }
  }
  // The file goes with the opener.
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(given).parent_path()));
}

TEST(BrowserOpenerTest, SaysWhenXdgOpenFailsOrIsMissing) {
  const std::string url = std::string("http://127.0.0.1:9/") + kToken + "/";
  BrowserOpener opener;
  {
    PathWithXdgOpen path(FAILING_BROWSER);
    std::string error;
    EXPECT_FALSE(opener.Open(url, error));
    EXPECT_EQ(error.rfind("xdg-open /", 0), 0U) << error;
    EXPECT_NE(error.find("/pellux-ui.html failed (exit status 3)"), std::string::npos) << error;
  }
  {
    PathWithXdgOpen path("");
    std::string error;
    EXPECT_FALSE(opener.Open(url, error));
    EXPECT_EQ(error.rfind("posix_spawnp(xdg-open) failed: errno 2 (No such file or directory)", 0),
              0U)
        << error;
  }
}

}  // namespace
}  // namespace Pellux
