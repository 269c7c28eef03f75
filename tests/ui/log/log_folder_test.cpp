#include "ui/log/log_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/ui/log/memory_log_folder.h"
#include "tests/ui/log/temp_folder.h"
#include "ui/log/activity_log.h"
#ifdef _WIN32
#include "ui/log/app_data_log_folder_win.h"
#else
#include <fcntl.h>
#include <sys/stat.h>

#include "ui/log/directory_log_folder_linux.h"
#endif

namespace Pellux {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using ::testing::UnorderedElementsAre;
using Created = LogFolder::CreateResult;

#ifdef _WIN32
constexpr const char* kCreateFolderCall = "CreateDirectoryA(";
// A file in place of a folder is refused as no folder.
constexpr const char* kFileInTheWay = "refused: ";
#else
constexpr const char* kCreateFolderCall = "mkdir(";
// A file in place of the folder takes no file.
constexpr const char* kFileInTheWay = "open(";
#endif

// The folder of this platform in a temporary place: "Pellux\Tracker\logs" below a base folder
// on Windows, the folder itself on Linux.
std::unique_ptr<LogFolder> PlatformFolderBelow(const fs::path& base) {
#ifdef _WIN32
  return std::make_unique<AppDataLogFolder>(base.string());
#else
  return std::make_unique<DirectoryLogFolder>((base / "Pellux" / "Tracker" / "logs").string());
#endif
}

struct PlatformBackend {
  TempFolder temp;
  fs::path logs = temp.Root() / "Pellux" / "Tracker" / "logs";
  std::unique_ptr<LogFolder> folder = PlatformFolderBelow(temp.Root());

  [[nodiscard]] std::string PathOf(const std::string& name) const { return (logs / name).string(); }
  void Put(const std::string& name, const std::string& contents) {
    fs::create_directories(logs);
    std::ofstream(logs / name, std::ios::binary) << contents;
  }
  void PutFolder(const std::string& name) { fs::create_directories(logs / name); }
  [[nodiscard]] std::string Read(const std::string& name) const { return ReadFile(logs / name); }
  [[nodiscard]] bool Has(const std::string& name) const { return fs::exists(logs / name); }
};

struct MemoryBackend {
  MemoryLogFolder memory{SystemClock::Instance(), "/mem/logs"};
  LogFolder* folder = &memory;

  [[nodiscard]] std::string PathOf(const std::string& name) const { return memory.PathOf(name); }
  void Put(const std::string& name, const std::string& contents) {
    memory.Put(name, std::chrono::system_clock::now(), contents);
  }
  void PutFolder(const std::string& name) { memory.PutFolder(name); }
  [[nodiscard]] std::string Read(const std::string& name) const { return memory.Contents(name); }
  [[nodiscard]] bool Has(const std::string& name) const {
    const auto names = memory.Names();
    return std::find(names.begin(), names.end(), name) != names.end();
  }
};

// What every log folder promises, run against the real folder of this platform and against
// the test double.
template <typename Backend>
class LogFolderContractTest : public ::testing::Test {
 protected:
  Backend backend_;
  LogFolder& folder_ = *backend_.folder;
  FolderFailure failure_;
};

using Backends = ::testing::Types<PlatformBackend, MemoryBackend>;
TYPED_TEST_SUITE(LogFolderContractTest, Backends);

TYPED_TEST(LogFolderContractTest, MissingFolderListsNothingAndTakesNoFile) {
  std::vector<LogFolder::Entry> files;
  EXPECT_TRUE(this->folder_.List(files, this->failure_));
  EXPECT_THAT(files, IsEmpty());
  std::unique_ptr<LogFile> file;
  std::string path;
  EXPECT_EQ(this->folder_.CreateNew("log-a.txt", file, path, this->failure_), Created::kFailed);
  EXPECT_EQ(file, nullptr);
  EXPECT_NE(this->failure_.code, 0U);
  EXPECT_FALSE(this->failure_.line.empty());
}

TYPED_TEST(LogFolderContractTest, CreatedFolderTakesNewFilesButNeverReplacesOne) {
  std::string located;
  ASSERT_TRUE(this->folder_.Locate(located, this->failure_));
  EXPECT_THAT(this->backend_.PathOf("log-b.txt"), StartsWith(located));
  ASSERT_TRUE(this->folder_.Create(this->failure_));
  ASSERT_TRUE(this->folder_.Create(this->failure_));
  this->backend_.Put("log-a.txt", "kept");
  std::unique_ptr<LogFile> file;
  std::string path;
  EXPECT_EQ(this->folder_.CreateNew("log-a.txt", file, path, this->failure_), Created::kNameTaken);
  EXPECT_EQ(this->backend_.Read("log-a.txt"), "kept");
  ASSERT_EQ(this->folder_.CreateNew("log-b.txt", file, path, this->failure_), Created::kCreated);
  EXPECT_EQ(path, this->backend_.PathOf("log-b.txt"));
  EXPECT_TRUE(file->Append("one\n", this->failure_));
  EXPECT_TRUE(file->Append("", this->failure_));
  EXPECT_TRUE(file->Append(std::string(70000, 'x') + "\n", this->failure_));
  EXPECT_EQ(this->backend_.Read("log-b.txt"), "one\n" + std::string(70000, 'x') + "\n");
  std::unique_ptr<LogFile> second;
  EXPECT_EQ(this->folder_.CreateNew("log-b.txt", second, path, this->failure_),
            Created::kNameTaken);
}

TYPED_TEST(LogFolderContractTest, ListsOnlyLogFilesWithTheirCreationTimes) {
  const auto before = std::chrono::system_clock::now() - std::chrono::seconds(2);
  for (const char* name : {"log-1.txt", "log-20261209063000-1.txt", "notes.txt", "xlog-3.txt",
                           "log-4.txt.bak", "log-5.tx"}) {
    this->backend_.Put(name, "x");
  }
  this->backend_.PutFolder("log-folder.txt");
  const auto after = std::chrono::system_clock::now() + std::chrono::seconds(2);
  std::vector<LogFolder::Entry> files;
  ASSERT_TRUE(this->folder_.List(files, this->failure_));
  std::vector<std::string> paths;
  for (const auto& file : files) {
    paths.push_back(file.path);
    EXPECT_GE(file.created, before) << file.path;
    EXPECT_LE(file.created, after) << file.path;
  }
  EXPECT_THAT(paths, UnorderedElementsAre(this->backend_.PathOf("log-1.txt"),
                                          this->backend_.PathOf("log-20261209063000-1.txt")));
}

TYPED_TEST(LogFolderContractTest, RemoveDeletesAFileAndReportsOneThatIsGone) {
  this->backend_.Put("log-1.txt", "x");
  EXPECT_TRUE(this->folder_.Remove(this->backend_.PathOf("log-1.txt"), this->failure_));
  EXPECT_FALSE(this->backend_.Has("log-1.txt"));
  EXPECT_FALSE(this->folder_.Remove(this->backend_.PathOf("log-1.txt"), this->failure_));
  EXPECT_NE(this->failure_.code, 0U);
  EXPECT_FALSE(this->failure_.line.empty());
}

// --- The activity log on the real folder of this platform

class PlatformActivityLogTest : public ::testing::Test {
 protected:
  PlatformActivityLogTest() {
    PinTimeZone("XYZ-2");
    settings_.WriteNumber("Tracker", "LogActivity", 1);
    settings_.WriteNumber("Tracker", "MaxLogDays", 7);
  }
  ActivityLog MakeLog(LogFolder& folder, const Clock& clock) {
    return {settings_, folder, debug_, clock, "1.2.0", nullptr};
  }
  // The lines that reached the debug output since the last call.
  std::vector<std::string> TakeDebugTexts() {
    std::vector<std::string> texts;
    const auto lines = debug_.Lines();
    for (std::size_t i = taken_; i < lines.size(); ++i) texts.push_back(lines[i].text);
    taken_ = lines.size();
    return texts;
  }

  TempFolder temp_;
  std::unique_ptr<LogFolder> folder_ = PlatformFolderBelow(temp_.Root());
  fs::path logs_ = temp_.Root() / "Pellux" / "Tracker" / "logs";
  MemorySettingsStore settings_;
  RecordingDebugOutput debug_;
  std::size_t taken_ = 0;
};

TEST_F(PlatformActivityLogTest, WritesItsFileWithParentsAndDeletesItWhenOlderThanTheDays) {
  {
    VirtualClock clock;
    ActivityLog log = MakeLog(*folder_, clock);
    ASSERT_TRUE(log.Open());
    log.WriteLine("100% written");
  }
  const std::string end(ActivityLog::kLineEnd);
  EXPECT_EQ(ReadFile(logs_ / "log-20260101020000.txt"),
            "01/01 02:00:00 *** Pellux Data Uploader Service 1.2.0 ***" + end +
                "01/01 02:00:00 100% written" + end +
                "01/01 02:00:00 <<< APPLICATION TERMINATED >>>" + end);
  // Ages count from the files' real creation times; the clock is set days ahead of them.
  for (const auto& [days, kept] : {std::pair{6, true}, std::pair{8, false}}) {
    VirtualClock clock(std::chrono::system_clock::now() + std::chrono::hours(24 * days));
    ActivityLog log = MakeLog(*folder_, clock);
    ASSERT_TRUE(log.Open());
    EXPECT_EQ(fs::exists(logs_ / "log-20260101020000.txt"), kept) << days;
  }
  // Without a sink the cleanup's own lines go to the debug output.
  EXPECT_THAT(TakeDebugTexts(), Contains("LOG CLEANUP: deleting '" +
                                         (logs_ / "log-20260101020000.txt").string() + "'"));
}

TEST_F(PlatformActivityLogTest, FolderOrFileThatCannotBeMadeLeavesTheServiceWithoutAFile) {
  // A file where the base folder should be: no folder can be made below it.
  std::ofstream(temp_.Root().string()) << "in the way";
  VirtualClock clock;
  ActivityLog log = MakeLog(*folder_, clock);
  EXPECT_FALSE(log.Open());
  log.WriteLine("lost");
  EXPECT_THAT(TakeDebugTexts(),
              Contains(StartsWith(std::string("Activity log: ") + kCreateFolderCall)));
  // A file where the log folder should be: no file is made.
  fs::remove(temp_.Root());
  fs::create_directories(logs_.parent_path());
  std::ofstream(logs_.string()) << "in the way";
  EXPECT_FALSE(log.Open());
  EXPECT_THAT(TakeDebugTexts(),
              Contains(StartsWith(std::string("Activity log: ") + kFileInTheWay)));
  fs::remove(logs_);
  EXPECT_TRUE(log.Open());
}

#ifdef _WIN32

TEST_F(PlatformActivityLogTest, RealFolderIsInTheAllUsersApplicationDataFolder) {
  AppDataLogFolder folder;
  std::string located;
  FolderFailure failure;
  ASSERT_TRUE(folder.Locate(located, failure)) << failure.line;
  const char* programData = std::getenv("ProgramData");
  ASSERT_NE(programData, nullptr);
  EXPECT_EQ(located, std::string(programData) + "\\Pellux\\Tracker\\logs");
  VirtualClock clock;
  std::string path;
  {
    ActivityLog log = MakeLog(folder, clock);
    ASSERT_TRUE(log.Open());
    path = log.CurrentPath();
  }
  EXPECT_THAT(path, StartsWith(located + "\\log-20260101020000"));
  EXPECT_THAT(ReadFile(path), StartsWith("01/01 02:00:00 *** Pellux Data Uploader Service"));
  EXPECT_TRUE(folder.Remove(path, failure)) << failure.line;
}

#else

TEST(DirectoryLogFolderTest, FolderIsTheFirstLogsDirectoryOfSystemdElseVarLogPellux) {
  const std::pair<const char*, std::string> rows[] = {
      {nullptr, "/var/log/pellux"},
      {"", "/var/log/pellux"},
      {"/var/log/uplinker", "/var/log/uplinker"},
      {"/var/log/a:/var/log/b", "/var/log/a"},
  };
  for (const auto& [variable, path] : rows) EXPECT_EQ(DefaultLogFolderPath(variable), path);
  // A relative folder would depend on the working directory: nothing is made there.
  for (const char* relative : {"logs", ":/var/log/b", ""}) {
    DirectoryLogFolder folder(relative);
    std::string located;
    FolderFailure failure;
    EXPECT_FALSE(folder.Locate(located, failure));
    EXPECT_FALSE(folder.Create(failure));
    EXPECT_EQ(failure.code, static_cast<unsigned long>(EINVAL));
  }
}

TEST_F(PlatformActivityLogTest, FolderAndFilesAreForTheServiceAndItsGroupOnly) {
  const mode_t mask = umask(022);
  VirtualClock clock;
  {
    ActivityLog log = MakeLog(*folder_, clock);
    ASSERT_TRUE(log.Open());
  }
  umask(mask);
  for (const auto& [path, mode] : {std::pair{logs_, 0750U}, std::pair{logs_.parent_path(), 0750U},
                                   std::pair{logs_ / "log-20260101020000.txt", 0640U}}) {
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0) << path;
    EXPECT_EQ(status.st_mode & 07777, mode) << path;
  }
}

TEST_F(PlatformActivityLogTest, LinksNamedLikeLogFilesAreNeitherListedNorFollowed) {
  fs::create_directories(logs_);
  std::ofstream(temp_.Root() / "elsewhere.txt") << "not ours";
  fs::create_symlink(temp_.Root() / "elsewhere.txt", logs_ / "log-link.txt");
  std::vector<LogFolder::Entry> files;
  FolderFailure failure;
  EXPECT_TRUE(folder_->List(files, failure));
  EXPECT_THAT(files, IsEmpty());
}

TEST(DescriptorLogFileTest, FullDiskFailsTheWriteWithTheSystemsWords) {
  const int descriptor = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(descriptor, 0);
  DescriptorLogFile file(descriptor, "/dev/full");
  FolderFailure failure;
  EXPECT_FALSE(file.Append("01/01 02:00:00 a line\n", failure));
  EXPECT_EQ(failure.code, static_cast<unsigned long>(ENOSPC));
  EXPECT_THAT(failure.line, StartsWith("write(/dev/full) failed: errno 28"));
}

#endif

}  // namespace
}  // namespace Pellux
