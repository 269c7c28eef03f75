// pelluxctl on Linux: what only the Unix socket channel has (local time by TZ, reply endpoints
// at a path, a listener that never answers).

#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "tests/tools/pelluxctl_fixture.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST_F(PelluxctlTest, StatusPrintsTheLastSleepInTheLocalTimeOfTz) {
  setenv("TZ", "UTC", 1);
  tzset();
  options.command = PelluxctlOptions::Command::kStatus;
  engine.SetStatus(true, 1767225600);
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_EQ(StatusField(outText.Text(), "tracker to sleep").substr(0, 21), "2026-01-01 00:00:00 (")
      << outText.Text();
}

TEST_F(PelluxctlTest, PagesGoToANewTemporaryFolderByDefault) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  // A reply endpoint at a path: never part of the folder's name.
  const std::string pathReply = platform.Folder() + "/reply-x.sock";
  Connect(pathReply);
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(1));
  ui->DisplayHtml("<p/>", pipe->ContextFor(UiChannelPlatform::ThisProcess(), pathReply), -1, -1);
  const std::string prefix =
      "page 1 (-1x-1): " + (std::filesystem::temp_directory_path() / "pelluxctl-").string();
  Eventually([&] { return outText.Text().find(prefix) != std::string::npos; });
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  const std::string text = outText.Text();
  const auto at = text.find(prefix);
  ASSERT_NE(at, std::string::npos) << text;
  const std::string path = text.substr(at + 16, text.find('\n', at) - at - 16);
  EXPECT_EQ(path.find("reply"), std::string::npos) << path;
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  // The folder is the user's alone, and made new (mkdtemp's random part, not a time).
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  struct stat made {};
  ASSERT_EQ(lstat(folder.c_str(), &made), 0);
  EXPECT_TRUE(S_ISDIR(made.st_mode));
  EXPECT_EQ(made.st_mode & 07777, 0700U);
  EXPECT_EQ(made.st_uid, geteuid());
  EXPECT_EQ(folder.filename().string().size(), std::string("pelluxctl-XXXXXX").size()) << folder;
  std::filesystem::remove_all(folder);
}

TEST_F(PelluxctlTest, AServiceThatNeverAnswersIsAClearError) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.service = platform.Folder() + "/silent.sock";
  std::string error;
  bool busy = false;
  auto silent = UnixSocket::Listen(options.service, 0, busy, error);
  ASSERT_TRUE(silent) << error;
  Connect(reply);
  EXPECT_EQ(Run(std::chrono::milliseconds(300)), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: the service did not answer within 300 ms\n");
}

TEST_F(PelluxctlTest, NothingIsSentToASocketThatAnotherUserServes) {
  ASSERT_EQ(geteuid(), 0u) << "plays another user, so it runs as root";
  // Another user has taken the service's name (in a folder anyone may write to).
  char pattern[] = "/tmp/pellux-squat-XXXXXX";
  const std::string folder = mkdtemp(pattern);
  chmod(folder.c_str(), 01777);
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.service = folder + "/service.sock";
  Connect(reply);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t squatter = fork();
  ASSERT_GE(squatter, 0);
  if (squatter == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
        setresuid(65534, 65534, 65534) != 0) {
      _exit(100);
    }
    std::string error;
    bool busy = false;
    auto listener = UnixSocket::Listen(options.service, 0666, busy, error);
    if (!listener) _exit(101);
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(102);
    std::string received;
    auto client = listener->Accept(-1, std::chrono::steady_clock::now() + 5s, error);
    if (client) {
      client->ReadAll(1024, -1, std::chrono::steady_clock::now() + 2s, received, error);
    }
    _exit(received.empty() ? 0 : 1);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  EXPECT_EQ(Run(), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: not sending anything to " + options.service +
                           ": it is served by uid 65534, not by root, the service's user "
                           "(pellux) or this user\n");
  int status = -1;
  ASSERT_EQ(waitpid(squatter, &status, 0), squatter);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the squatter received something";
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace Pellux
