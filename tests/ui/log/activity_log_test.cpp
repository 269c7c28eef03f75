#include "ui/log/activity_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/ui/log/memory_log_folder.h"

namespace Pellux {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::Optional;
using ::testing::VariantWith;
using Call = MemoryLogFolder::Call;
using Sunk = std::pair<std::string, int>;

constexpr std::chrono::seconds kDay{86400};
// The virtual clock starts at 2026-01-01 00:00:00 UTC, 02:00:00 in the pinned zone.
constexpr const char* kFirstName = "log-20260101020000.txt";
const std::string kBanner = "*** Pellux Data Uploader Service 1.2.0 ***";

std::string Line(const std::string& stamp, const std::string& text) {
  return stamp + " " + text + std::string(ActivityLog::kLineEnd);
}

class ActivityLogTest : public ::testing::Test {
 protected:
  ActivityLogTest() { PinTimeZone("XYZ-2"); }

  void Store(std::optional<std::uint32_t> enabled, std::optional<std::uint32_t> days) {
    if (enabled) settings_.WriteNumber("Tracker", "LogActivity", *enabled);
    if (days) settings_.WriteNumber("Tracker", "MaxLogDays", *days);
  }
  std::unique_ptr<ActivityLog> MakeLog(ActivityLog::Sink sink = nullptr) {
    if (!sink) {
      sink = [this](const std::string& text, int level) {
        const std::lock_guard lock(mutex_);
        sunk_.emplace_back(text, level);
      };
    }
    return std::make_unique<ActivityLog>(settings_, folder_, debug_, clock_, "1.2.0", sink);
  }
  void Advance(std::chrono::seconds time) { clock_.Advance(time); }
  std::chrono::system_clock::time_point Ago(std::chrono::seconds age) const {
    return clock_.Now() - age;
  }
  std::vector<std::string> DebugTexts() const {
    std::vector<std::string> texts;
    for (const auto& line : debug_.Lines()) texts.push_back(line.text);
    return texts;
  }

  VirtualClock clock_;
  MemorySettingsStore settings_;
  MemoryLogFolder folder_{clock_, "/logs"};
  RecordingDebugOutput debug_;
  std::mutex mutex_;
  std::vector<Sunk> sunk_;
};

// --- Settings

TEST_F(ActivityLogTest, SettingsAreReadAndMissingOnesStoredWithTheValuesInUse) {
  struct Row {
    std::optional<std::uint32_t> enabled, days;
    bool active;
    std::uint32_t storedEnabled, storedDays;
  };
  const Row rows[] = {
      {std::nullopt, std::nullopt, false, 0, 0},
      {1, 7, true, 1, 7},
      {5, 3, true, 5, 3},
      {1, 0, false, 1, 0},
      {0, 7, false, 0, 7},
      {1, 0xFFFFFFF9, false, 1, 0xFFFFFFF9},
      {1, std::nullopt, false, 1, 0},
      {std::nullopt, 7, false, 0, 7},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.enabled.value_or(99) << "/" << row.days.value_or(99));
    MemorySettingsStore settings;
    MemoryLogFolder folder(clock_, "/logs");
    if (row.enabled) settings.WriteNumber("Tracker", "LogActivity", *row.enabled);
    if (row.days) settings.WriteNumber("Tracker", "MaxLogDays", *row.days);
    ActivityLog log(settings, folder, debug_, clock_, "1.2.0", nullptr);
    EXPECT_EQ(log.IsActive(), row.active);
    EXPECT_THAT(settings.Get("Tracker", "LogActivity"),
                Optional(VariantWith<std::uint32_t>(row.storedEnabled)));
    EXPECT_THAT(settings.Get("Tracker", "MaxLogDays"),
                Optional(VariantWith<std::uint32_t>(row.storedDays)));
    // Inactive, the log writes no file and does not even make its folder.
    EXPECT_EQ(log.Open(), row.active);
    log.WriteLine("a line");
    EXPECT_EQ(folder.Exists(), row.active);
    EXPECT_EQ(folder.Names().size(), row.active ? 1U : 0U);
  }
}

// --- Files and lines

TEST_F(ActivityLogTest, FileNamedAfterTheLocalTimeHoldsTheBannerAndEachLineStampedAsGiven) {
  Store(1, 7);
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  EXPECT_EQ(log->CurrentPath(), "/logs/log-20260101020000.txt");
  log->WriteLine("100% %s %n done");
  log->WriteLine("");
  Advance(std::chrono::seconds(61));
  log->WriteLine("next");
  log.reset();
  EXPECT_EQ(folder_.Contents(kFirstName),
            Line("01/01 02:00:00", kBanner) + Line("01/01 02:00:00", "100% %s %n done") +
                Line("01/01 02:00:00", "") + Line("01/01 02:01:01", "next") +
                Line("01/01 02:01:01", "<<< APPLICATION TERMINATED >>>"));
}

TEST_F(ActivityLogTest, EveryFileEndsWithTheMarkerOfWhyItEnded) {
  struct Row {
    const char* marker;
    std::function<void(std::unique_ptr<ActivityLog>&)> end;
  };
  const Row rows[] = {
      {"<<< LOG ROLL >>>",
       [this](auto& log) {
         Advance(kDay + std::chrono::seconds(1));
         log->WriteLine("x");
       }},
      {"<<< USER INTERRUPT >>>", [](auto& log) { log->Open(); }},
      {"<<< LOGGING DISABLED BY USER >>>", [](auto& log) { log->ApplySettings(0, 7); }},
      {"<<< APPLICATION TERMINATED >>>", [](auto& log) { log.reset(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.marker);
    Store(1, 7);
    auto log = MakeLog();
    ASSERT_TRUE(log->Open());
    const std::string first = log->CurrentPath().substr(6);
    row.end(log);
    EXPECT_THAT(folder_.Contents(first),
                EndsWith(" " + std::string(row.marker) + std::string(ActivityLog::kLineEnd)));
    Advance(std::chrono::seconds(5));
  }
}

TEST_F(ActivityLogTest, RollsOnlyWhenTheFileIsMoreThanADayOldAndALineComes) {
  Store(1, 7);
  for (const auto& [age, rolls] :
       {std::pair{kDay, false}, std::pair{kDay + std::chrono::seconds(1), true}}) {
    SCOPED_TRACE(age.count());
    VirtualClock clock;
    MemoryLogFolder folder(clock, "/logs");
    RecordingDebugOutput debug;
    bool sunk = false;
    ActivityLog log(settings_, folder, debug, clock, "1.2.0", [&sunk](auto&&...) { sunk = true; });
    ASSERT_TRUE(log.Open());
    folder.Put("log-old.txt", clock.Now() - 7 * kDay);
    // A quiet service keeps its file however old it gets.
    clock.Advance(age);
    EXPECT_EQ(folder.Names().size(), 2U);
    log.WriteLine("line");
    ASSERT_EQ(folder.Names().size(), 2U);
    if (!rolls) continue;
    // The roll's cleanup happens inside a line of the owner's Log: its lines go elsewhere.
    EXPECT_FALSE(sunk);
    ASSERT_EQ(debug.Lines().size(), 1U);
    EXPECT_EQ(debug.Lines()[0].text, "LOG CLEANUP: deleting '/logs/log-old.txt'");
    EXPECT_EQ(debug.Lines()[0].level, 4);
    EXPECT_THAT(folder.Contents(kFirstName), EndsWith(Line("01/02 02:00:01", "<<< LOG ROLL >>>")));
    EXPECT_EQ(folder.Contents("log-20260102020001.txt"),
              Line("01/02 02:00:01", kBanner) + Line("01/02 02:00:01", "line"));
  }
}

TEST_F(ActivityLogTest, AFullFileSaysSoOnceAndTakesNoMoreLinesUntilTheRoll) {
  Store(1, 7);
  settings_.WriteNumber("Tracker", "MaxLogBytes", 400);
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  const std::string text(50, 'x');
  for (int i = 0; i < 1000; ++i) log->WriteLine(text);
  const std::string full = folder_.Contents(kFirstName);
  // The banner and five lines of 66 bytes fit in 400; the sixth would not.
  const std::string stamp = "01/01 02:00:00";
  std::string expected = Line(stamp, kBanner);
  for (int i = 0; i < 5; ++i) expected += Line(stamp, text);
  expected += Line(stamp, ActivityLog::kFullMarker);
  EXPECT_EQ(full, expected);
  // Markers still end the file; the next day's file takes lines again.
  clock_.Advance(kDay + std::chrono::seconds(1));
  log->WriteLine("next day");
  EXPECT_THAT(folder_.Contents(kFirstName), EndsWith(Line("01/02 02:00:01", "<<< LOG ROLL >>>")));
  EXPECT_THAT(folder_.Contents("log-20260102020001.txt"),
              EndsWith(Line("01/02 02:00:01", "next day")));
  // A setting of 0 is the default, which is what a missing one is stored as.
  settings_.WriteNumber("Tracker", "MaxLogBytes", 0);
  MemorySettingsStore fresh;
  ActivityLog other(fresh, folder_, debug_, clock_, "1.2.0", nullptr);
  EXPECT_THAT(fresh.Get("Tracker", "MaxLogBytes"),
              Optional(VariantWith<std::uint32_t>(ActivityLog::kDefaultMaxBytes)));
}

TEST_F(ActivityLogTest, OpensWithinOneSecondTakeTheNextFreeNameAndNeverReplaceAFile) {
  Store(1, 7);
  folder_.Put(kFirstName, clock_.Now(), "someone else's");
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  ASSERT_TRUE(log->Open());
  EXPECT_THAT(folder_.Names(),
              ElementsAre("log-20260101020000-1.txt", "log-20260101020000-2.txt", kFirstName));
  EXPECT_EQ(folder_.Contents(kFirstName), "someone else's");
  EXPECT_EQ(folder_.Contents("log-20260101020000-1.txt"),
            Line("01/01 02:00:00", kBanner) + Line("01/01 02:00:00", "<<< USER INTERRUPT >>>"));
  // With every name of the second taken, the open gives up and says so.
  for (int n = 3; n < 100; ++n)
    folder_.Put("log-20260101020000-" + std::to_string(n) + ".txt", clock_.Now());
  EXPECT_FALSE(log->Open());
  EXPECT_THAT(DebugTexts(),
              ElementsAre("Activity log: no free file name left for log-20260101020000.txt"));
}

// --- Cleanup

TEST_F(ActivityLogTest, CleanupDeletesOnlyFilesOlderThanTheChosenDays) {
  Store(1, 7);
  folder_.Put("log-8days.txt", Ago(8 * kDay));
  folder_.Put("log-7days1s.txt", Ago(7 * kDay + std::chrono::seconds(1)));
  folder_.Put("log-7days.txt", Ago(7 * kDay));
  folder_.Put("log-6days.txt", Ago(6 * kDay));
  folder_.Put("log-future.txt", Ago(-kDay));
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  EXPECT_THAT(folder_.Names(), ElementsAre("log-20260101020000.txt", "log-6days.txt",
                                           "log-7days.txt", "log-future.txt"));
  EXPECT_THAT(sunk_, ElementsAre(Sunk{"LOG CLEANUP: deleting '/logs/log-7days1s.txt'", 4},
                                 Sunk{"LOG CLEANUP: deleting '/logs/log-8days.txt'", 4}));
}

TEST_F(ActivityLogTest, SwitchingOffWithZeroDaysDeletesEveryFileASecondOldTheClosedOneToo) {
  Store(1, 7);
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  Advance(std::chrono::seconds(1));
  folder_.Put("log-just-now.txt", clock_.Now());
  log->ApplySettings(1, 0);
  EXPECT_FALSE(log->IsOpen());
  EXPECT_THAT(settings_.Get("Tracker", "MaxLogDays"), Optional(VariantWith<std::uint32_t>(0U)));
  EXPECT_THAT(folder_.Names(), ElementsAre("log-just-now.txt"));
  EXPECT_THAT(sunk_, ElementsAre(Sunk{"LOG CLEANUP: deleting '/logs/log-20260101020000.txt'", 4}));
}

TEST_F(ActivityLogTest, ApplyingSettingsStoresThemAndTheSameAgainLeavesTheOpenFileAlone) {
  auto log = MakeLog();
  EXPECT_FALSE(log->IsOpen());
  log->ApplySettings(4, 7);
  EXPECT_THAT(settings_.Get("Tracker", "LogActivity"), Optional(VariantWith<std::uint32_t>(1U)));
  ASSERT_TRUE(log->IsOpen());
  const std::string contents = folder_.Contents(kFirstName);
  log->ApplySettings(1, 7);
  log->ApplySettings(1, 3);
  EXPECT_EQ(log->CurrentPath(), "/logs/" + std::string(kFirstName));
  EXPECT_EQ(folder_.Contents(kFirstName), contents);
  // Negative days are stored as given and taken as 0: logging is off, and the cleanup keeps
  // the file closed in the second it was made.
  log->ApplySettings(1, -3);
  EXPECT_THAT(settings_.Get("Tracker", "MaxLogDays"),
              Optional(VariantWith<std::uint32_t>(0xFFFFFFFDU)));
  EXPECT_FALSE(log->IsActive());
  EXPECT_FALSE(log->IsOpen());
  EXPECT_THAT(folder_.Names(), ElementsAre(kFirstName));
}

TEST_F(ActivityLogTest, CleanupFailuresBecomeItsOwnLinesAndTheSystemsWordsGoToTheDebugOutput) {
  struct Row {
    Call call;
    std::vector<Sunk> lines;
    std::size_t left;
  };
  const Row rows[] = {
      {Call::kLocate, {{"LOG CLEANUP: failed to open log directory", 6}}, 2},
      {Call::kList,
       {{"LOG CLEANUP: deleting '/logs/log-a.txt'", 4}, {"LOG CLEANUP: error 5", 7}},
       1},
      {Call::kRemove,
       {{"LOG CLEANUP: deleting '/logs/log-a.txt'", 4},
        {"LOG CLEANUP: deleting '/logs/log-b.txt'", 4}},
       2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.call));
    MemoryLogFolder folder(clock_, "/logs");
    RecordingDebugOutput debug;
    std::vector<Sunk> sunk;
    Store(0, 7);
    ActivityLog log(
        settings_, folder, debug, clock_, "1.2.0",
        [&sunk](const std::string& text, int level) { sunk.emplace_back(text, level); });
    folder.Put("log-a.txt", Ago(9 * kDay));
    folder.Put("log-b.txt", Ago(9 * kDay));
    folder.Fail(row.call, 5, 1);
    log.Cleanup();
    EXPECT_EQ(sunk, row.lines);
    EXPECT_EQ(folder.Names().size(), row.left);
    ASSERT_FALSE(debug.Lines().empty());
    EXPECT_EQ(debug.Lines().front().text, "Activity log: memory call " +
                                              std::to_string(static_cast<int>(row.call)) +
                                              " failed: code 5");
  }
}

TEST_F(ActivityLogTest, TheOwnersLogMayWriteItsOwnLinesBackIntoTheLog) {
  Store(1, 7);
  folder_.Put("log-old.txt", Ago(8 * kDay));
  std::unique_ptr<ActivityLog> log;
  log = MakeLog([&log](const std::string& text, int /*level*/) { log->WriteLine(text); });
  ASSERT_TRUE(log->Open());
  EXPECT_EQ(folder_.Contents(kFirstName),
            Line("01/01 02:00:00", kBanner) +
                Line("01/01 02:00:00", "LOG CLEANUP: deleting '/logs/log-old.txt'"));
}

// --- A full disk: the service keeps going (folders and files that cannot be made are tried on
// the real folders)

TEST_F(ActivityLogTest, FullDiskLosesLinesReportedOncePerRunAndWritingResumes) {
  Store(1, 7);
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  folder_.Fail(Call::kAppend, 28);
  for (int i = 0; i < 3; ++i) log->WriteLine("lost");
  folder_.Fail(Call::kAppend, 0);
  log->WriteLine("back");
  folder_.Fail(Call::kAppend, 28);
  log->WriteLine("lost again");
  EXPECT_EQ(folder_.Contents(kFirstName),
            Line("01/01 02:00:00", kBanner) + Line("01/01 02:00:00", "back"));
  const std::string failure = "Activity log: memory call 3 failed: code 28";
  EXPECT_THAT(DebugTexts(), ElementsAre(failure, failure));
}

// --- Threads

TEST_F(ActivityLogTest, LinesFromManyThreadsStayWholeAndAFileRollsOnce) {
  Store(1, 7);
  auto log = MakeLog();
  ASSERT_TRUE(log->Open());
  Advance(kDay + std::chrono::seconds(1));
  constexpr int kWriters = 4;
  constexpr int kLines = 250;
  std::vector<std::thread> threads;
  std::atomic<bool> lineWritten{false};
  for (int t = 0; t < kWriters; ++t) {
    threads.emplace_back([&log, &lineWritten, t] {
      for (int n = 0; n < kLines; ++n) {
        log->WriteLine("t" + std::to_string(t) + " line " + std::to_string(n));
        lineWritten = true;
      }
    });
  }
  // Users interrupting the file meanwhile: every file still starts and ends whole. They come
  // once a line has rolled the day-old file; a new file opened before that would need no roll.
  threads.emplace_back([&log, &lineWritten] {
    while (!lineWritten) std::this_thread::yield();
    for (int n = 0; n < 20; ++n) log->Open();
  });
  for (auto& thread : threads) thread.join();
  log.reset();
  const std::regex line(
      "01/0[12] 02:00:0[01] (t[0-3] line [0-9]+|\\*\\*\\* Pellux Data Uploader Service 1\\.2\\.0 "
      "\\*\\*\\*|<<< (LOG ROLL|USER INTERRUPT|APPLICATION TERMINATED) >>>)\r?");
  int rolls = 0;
  int written = 0;
  for (const auto& name : folder_.Names()) {
    std::istringstream contents(folder_.Contents(name));
    std::vector<std::string> lines;
    for (std::string read; std::getline(contents, read);) {
      ASSERT_TRUE(std::regex_match(read, line)) << name << ": " << read;
      lines.push_back(read.substr(15));
    }
    ASSERT_GE(lines.size(), 2U) << name;
    EXPECT_EQ(lines.front().substr(0, kBanner.size()), kBanner) << name;
    EXPECT_EQ(lines.back().substr(0, 3), "<<<") << name;
    for (const auto& text : lines) {
      rolls += text.rfind("<<< LOG ROLL", 0) == 0 ? 1 : 0;
      written += text[0] == 't' ? 1 : 0;
    }
  }
  EXPECT_EQ(rolls, 1);
  EXPECT_EQ(written, kWriters * kLines);
}

}  // namespace
}  // namespace Pellux
