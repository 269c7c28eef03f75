// pelluxctl's commands against the service's real UI channel, one suite for both platforms:
// Unix sockets on Linux, named pipes under Wine.

#include <cctype>
#include <filesystem>
#include <fstream>

#include "tests/tools/pelluxctl_fixture.h"

namespace Pellux {
namespace {

// "YYYY-MM-DD HH:MM:SS": the local time pelluxctl prints.
bool IsLocalTimeText(const std::string& text) {
  const std::string shape = "dddd-dd-dd dd:dd:dd";
  if (text.size() != shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

TEST_F(PelluxctlTest, StatusDescribesTheServicesRecord) {
  options.command = PelluxctlOptions::Command::kStatus;
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  EXPECT_EQ(StatusField(outText.Text(), "base station"), "not open, 0000:0000") << outText.Text();
  EXPECT_EQ(StatusField(outText.Text(), "tracker to sleep"), "never");
  EXPECT_EQ(StatusField(outText.Text(), "session"), "none");

  outText.str("");
  StatusRecord record;
  record.link = "transferring";
  record.baseStation = {true, 0x0fcf, 0x1008, "S1", "/dev/ttyUSB0"};
  record.session = StatusRecord::Session{true, "standard", 1, 2, 3, 4000, 50, 2, 3};
  engine.SetRecord(record);
  engine.SetStatus(true, 1767225600);
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  const std::string text = outText.Text();
  EXPECT_EQ(StatusField(text, "link"), "transferring") << text;
  EXPECT_EQ(StatusField(text, "base station"), "open, 0fcf:1008, serial S1, /dev/ttyUSB0");
  EXPECT_EQ(StatusField(text, "progress"),
            "4000 bytes from the tracker, 50 to it, operation 2/3, 3 requests posted");
  const std::string sleep = StatusField(text, "tracker to sleep");
  EXPECT_TRUE(IsLocalTimeText(sleep.substr(0, sleep.find(" (")))) << sleep;
  EXPECT_TRUE(engine.Actions().empty());
}

TEST_F(PelluxctlTest, StatusJsonPrintsTheRecordOnOneLine) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.json = true;
  engine.SetStatus(true, 1767225600);
  EXPECT_EQ(Run(), kPelluxctlOk) << err.str();
  const std::string text = outText.Text();
  ASSERT_EQ(text.find('\n'), text.size() - 1) << text;
  const auto record = DecodeStatusRecord(text);
  ASSERT_TRUE(record.has_value()) << text;
  EXPECT_TRUE(record->baseStation.open);
  EXPECT_EQ(record->lastSleepTime, 1767225600);
  EXPECT_EQ(record->mode, "standard");
  EXPECT_EQ(record->now, EpochSeconds(clock.Now()));
}

TEST_F(PelluxctlTest, FollowShowsEachChangeAndTheProgressUntilInterrupted) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.follow = true;
  StatusRecord record;
  record.link = "searching";
  engine.SetRecord(record);
  PelluxctlIo io{
      out, err, in, interrupted, std::chrono::milliseconds(2000), std::chrono::milliseconds(200)};
  io.followInterval = std::chrono::milliseconds(10);
  int status = -1;
  std::thread follower([&] { status = RunPelluxctl(options, *connection, io); });
  ASSERT_TRUE(Eventually([&] { return outText.Text().find("link:") != std::string::npos; }));

  record.link = "transferring";
  record.session = StatusRecord::Session{true, "standard", 1, 2, 0, 300, 7, 1, 2};
  engine.SetRecord(record);
  const std::string progress = "transferring: 300 bytes from the tracker, 7 to it, operation 1/2";
  EXPECT_TRUE(Eventually([&] { return outText.Text().find(progress) != std::string::npos; }))
      << outText.Text();
  record.session->bytesFromTracker = 900;
  engine.SetRecord(record);
  EXPECT_TRUE(Eventually([&] { return outText.Text().find("900 bytes") != std::string::npos; }));
  interrupted = true;
  follower.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  const std::string text = outText.Text();
  EXPECT_NE(text.find(" link: searching -> transferring\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" session started: standard\n"), std::string::npos) << text;
  EXPECT_EQ(text.find(progress), text.rfind(progress)) << "shown once while it did not move";
  EXPECT_EQ(text.find('\r'), std::string::npos) << "no terminal: plain lines";
}

TEST_F(PelluxctlTest, FollowSaysOnceThatTheServiceIsNotRunningAndKeepsTrying) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.follow = true;
  options.service = platform.UnusedAddress();
  Connect(reply);
  PelluxctlIo io{
      out, err, in, interrupted, std::chrono::milliseconds(200), std::chrono::milliseconds(200)};
  io.followInterval = std::chrono::milliseconds(5);
  int status = -1;
  std::thread follower([&] { status = RunPelluxctl(options, *connection, io); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  interrupted = true;
  follower.join();
  EXPECT_EQ(status, kPelluxctlOk);
  EXPECT_EQ(outText.Text(),
            "the service is not running (nothing listens at " + options.service + ")\n");
}

TEST_F(PelluxctlTest, CommandsWithoutAnswerReachTheServiceAsTheirMessages) {
  options.command = PelluxctlOptions::Command::kRefresh;
  EXPECT_EQ(Run(), kPelluxctlOk);
  options.command = PelluxctlOptions::Command::kOpen;
  options.url = "not-a-url";
  EXPECT_EQ(Run(), kPelluxctlOk);
  options.command = PelluxctlOptions::Command::kFinish;
  EXPECT_EQ(Run(), kPelluxctlOk);
  ASSERT_TRUE(WaitForActions(2));
  const Context context = pipe->ContextFor(UiChannelPlatform::ThisProcess(), reply);
  EXPECT_EQ(engine.Actions(), (std::vector<RecordingSessionControl::Action>{
                                  {"refresh", "settings", context}, {"finish", "", context}}));
  options.command = PelluxctlOptions::Command::kLogging;
  options.loggingOn = true;
  options.logDays = 9;
  EXPECT_EQ(Run(), kPelluxctlOk);
  EXPECT_TRUE(Eventually([&] { return store.ReadNumber("Tracker", "MaxLogDays") == 9u; }));
  EXPECT_EQ(store.ReadNumber("Tracker", "LogActivity"), 1u);
}

TEST_F(PelluxctlTest, SessionShowsPagesAndStatusLinesSendsFormsAndFinishes) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.html = platform.Folder() + "/pages";
  options.forms = {"user=ann&pass=x y"};
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(1));
  const Context context = pipe->ContextFor(UiChannelPlatform::ThisProcess(), reply);
  EXPECT_EQ(engine.Actions()[0], (RecordingSessionControl::Action{"init", "setup", context}));
  ui->Log("Connecting to the server...", 8, context);
  ui->DisplayHtml("<form>name?</form>", context, 400, 300);
  ASSERT_TRUE(WaitForActions(2));
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  ASSERT_TRUE(WaitForActions(3));  // the service reads the last message after pelluxctl is done
  const auto actions = engine.Actions();
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[1], (RecordingSessionControl::Action{"form", "user=ann&pass=x y", context}));
  EXPECT_EQ(actions[2], (RecordingSessionControl::Action{"finish", "", context}));
  const std::string page = (std::filesystem::path(options.html) / "page-1.html").string();
  std::ifstream file(page, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "<form>name?</form>");
  EXPECT_EQ(outText.Text(),
            "session setup started; Ctrl-C finishes it\n"
            "info: Connecting to the server...\n"
            "page 1 (400x300): " +
                page + "\nform sent\nsession finished\n");
}

TEST_F(PelluxctlTest, SessionShowsTheProgressOfItsTransfer) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.html = "-";
  StatusRecord record;
  record.session = StatusRecord::Session{true, "setup", 1, 2, 1, 10, 2, 1, 1};
  engine.SetRecord(record);
  int status = -1;
  std::thread run([&] { status = Run(); });
  const std::string progress = "transferring: 10 bytes from the tracker, 2 to it, operation 1/1";
  EXPECT_TRUE(Eventually([&] { return outText.Text().find(progress) != std::string::npos; }))
      << outText.Text();
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  EXPECT_EQ(outText.Text().find(progress), outText.Text().rfind(progress)) << outText.Text();
}

TEST_F(PelluxctlTest, SessionPrintsPagesAndSendsEachInputLine) {
  options.command = PelluxctlOptions::Command::kSession;
  options.mode = "setup";
  options.html = "-";
  options.forms = {"-"};
  in.str("a=1\nb=2\n");
  int status = -1;
  std::thread run([&] { status = Run(); });
  ASSERT_TRUE(WaitForActions(3));
  const Context context = pipe->ContextFor(UiChannelPlatform::ThisProcess(), reply);
  ui->DisplayHtml("<p>hi</p>", context, -1, -1);
  Eventually([&] { return outText.Text().find("end of page 1") != std::string::npos; });
  interrupted.store(true);
  run.join();
  EXPECT_EQ(status, kPelluxctlOk) << err.str();
  ASSERT_TRUE(WaitForActions(4));
  const auto actions = engine.Actions();
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[1].argument, "a=1");
  EXPECT_EQ(actions[2].argument, "b=2");
  EXPECT_NE(outText.Text().find("--- page 1 (-1x-1) ---\n<p>hi</p>\n--- end of page 1 ---\n"),
            std::string::npos)
      << outText.Text();
}

TEST_F(PelluxctlTest, ServiceNotRunningIsAClearErrorWithExitCodeOne) {
  options.command = PelluxctlOptions::Command::kStatus;
  options.service = platform.UnusedAddress();
  Connect(reply);
  EXPECT_EQ(Run(), kPelluxctlFailed);
  EXPECT_EQ(err.str(), "pelluxctl: the Pellux service is not running (nothing listens at " +
                           options.service + ")\n");
}

}  // namespace
}  // namespace Pellux
