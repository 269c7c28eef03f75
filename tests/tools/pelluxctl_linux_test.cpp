// pelluxctl on Linux: what only the Unix socket channel has (local time by TZ, reply endpoints
// at a path, a listener that never answers).

#include <stdlib.h>

#include <ctime>
#include <filesystem>

#include "tests/tools/pelluxctl_fixture.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

TEST_F(PelluxctlTest, StatusPrintsTheLastSleepInTheLocalTimeOfTz) {
  setenv("TZ", "UTC", 1);
  tzset();
  options.command = PelluxctlOptions::Command::kStatus;
  engine.SetStatus(true, 1767225600);
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_EQ(outText.Text(), "base station: open\ntracker last put to sleep: 2026-01-01 00:00:00\n");
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
  std::filesystem::remove_all(std::filesystem::path(path).parent_path());
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

}  // namespace
}  // namespace Pellux
