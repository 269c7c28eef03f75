#include "ui/log/debug_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <cstring>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ui/log/journal_fields.h"
#endif

namespace Pellux {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Writes kLines lines from each of kThreads threads at once, "<thread>:<n> 100% %s".
constexpr int kThreads = 4;
constexpr int kLines = 50;
void WriteFromThreads(DebugOutput& output) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&output, t] {
      for (int n = 0; n < kLines; ++n) {
        output.Write(std::to_string(t) + ":" + std::to_string(n) + " 100% %s", 6, kNoContext);
      }
    });
  }
  for (auto& thread : threads) thread.join();
}
std::vector<std::string> ExpectedLines() {
  std::vector<std::string> lines;
  for (int t = 0; t < kThreads; ++t) {
    for (int n = 0; n < kLines; ++n)
      lines.push_back(std::to_string(t) + ":" + std::to_string(n) + " 100% %s");
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

#ifdef _WIN32

std::mutex capturedMutex;
std::vector<std::string> captured;

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the text for a debugger; a vectored
// handler sees it first, as a debugger would.
LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  if (record.ExceptionCode != DBG_PRINTEXCEPTION_C || record.NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const auto* text = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
  const std::lock_guard lock(capturedMutex);
  captured.emplace_back(text, strnlen(text, record.ExceptionInformation[0]));
  return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(DebugOutputTest, DebuggerReceivesEveryLineWholeWithItsLineEnd) {
  void* handler = AddVectoredExceptionHandler(1, CaptureDebugString);
  ASSERT_NE(handler, nullptr);
  auto output = DebugOutput::CreateForPlatform();
  WriteFromThreads(*output);
  RemoveVectoredExceptionHandler(handler);
  std::vector<std::string> lines;
  for (const auto& text : captured) {
    ASSERT_EQ(text.back(), '\n') << text;
    lines.push_back(text.substr(0, text.size() - 1));
  }
  std::sort(lines.begin(), lines.end());
  EXPECT_THAT(lines, ElementsAreArray(ExpectedLines()));
}

#else

TEST(JournalFieldsTest, LevelsMapToPrioritiesThatShowFailuresAsWarningsAndErrors) {
  // Level: -1 0 1 2 3 4 5 6 7 8 9.
  const int priorities[] = {6, 7, 6, 5, 6, 7, 6, 3, 4, 5, 6};
  for (int level = -1; level <= 9; ++level) {
    EXPECT_EQ(JournalPriority(level), priorities[level + 1]) << level;
  }
}

TEST(JournalFieldsTest, EntryCarriesTheTextWholeTheLevelAndTheContext) {
  const ReplyEndpoint pipe{R"(\\.\pipe\Pellux)", {}};
  EXPECT_THAT(JournalFields("two\nlines 100% %s", 7, &pipe, "uplinker"),
              ElementsAre("MESSAGE=two\nlines 100% %s", "PRIORITY=4", "SYSLOG_IDENTIFIER=uplinker",
                          "PELLUX_LEVEL=7", R"(PELLUX_CONTEXT=\\.\pipe\Pellux)"));
  EXPECT_THAT(
      JournalFields("", 8, kNoContext, "rebooter"),
      ElementsAre("MESSAGE=", "PRIORITY=5", "SYSLOG_IDENTIFIER=rebooter", "PELLUX_LEVEL=8"));
}

TEST(JournalFieldsTest, JournalIsUsedOnlyWhenStandardErrorIsItsStreamOrTheUnitHasNoStream) {
  struct Row {
    const char* stream;
    bool stderrOpen, booted;
    const char* invocation;
    bool journal;
  };
  const Row rows[] = {
      {"64769:1234", true, false, nullptr, true},
      {"64769:1235", true, true, "abc", false},  // Redirected away from the journal.
      {"64770:1234", true, true, "abc", false},
      {"64769:1234", false, true, "abc", false},
      {"64769:1234x", true, false, nullptr, false},
      {"64769:", true, false, nullptr, false},
      {"64769", true, false, nullptr, false},
      {"-1:1234", true, false, nullptr, false},
      {"", true, true, "abc", false},
      {nullptr, true, true, "abc", true},
      {nullptr, true, true, "", false},
      {nullptr, true, false, "abc", false},
      {nullptr, true, true, nullptr, false},
  };
  for (const auto& row : rows) {
    const JournalHints hints{row.stream, row.stderrOpen, 64769, 1234, row.booted, row.invocation};
    EXPECT_EQ(hints.UseJournal(), row.journal)
        << (row.stream ? row.stream : "(unset)") << " " << row.booted << " "
        << (row.invocation ? row.invocation : "(unset)");
  }
}

// Points standard error at a file for the test's time, as if the daemon ran outside systemd,
// or (with `asJournal`) as if systemd had connected it to the journal.
class StandardErrorToFile {
 public:
  explicit StandardErrorToFile(bool asJournal) {
    unsetenv("JOURNAL_STREAM");
    unsetenv("INVOCATION_ID");
    const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(file, STDERR_FILENO);
    close(file);
    struct stat status {};
    fstat(STDERR_FILENO, &status);
    const std::string stream = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    if (asJournal) setenv("JOURNAL_STREAM", stream.c_str(), 1);
  }
  ~StandardErrorToFile() {
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    unsetenv("JOURNAL_STREAM");
    std::filesystem::remove(path_);
  }
  [[nodiscard]] std::vector<std::string> Lines() const {
    std::ifstream file(path_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

 private:
  const std::string path_ =
      (std::filesystem::temp_directory_path() / ("pellux-stderr-" + std::to_string(getpid())))
          .string();
  const int saved_ = dup(STDERR_FILENO);
};

TEST(DebugOutputTest, StandardErrorTakesEveryLineWholeFromEveryThread) {
  StandardErrorToFile redirected(false);
  WriteFromThreads(*DebugOutput::CreateForPlatform());
  std::vector<std::string> lines = redirected.Lines();
  std::sort(lines.begin(), lines.end());
  EXPECT_THAT(lines, ElementsAreArray(ExpectedLines()));
}

TEST(DebugOutputTest, StandardErrorThatIsTheJournalsStreamIsLeftForTheJournal) {
  StandardErrorToFile redirected(true);
  DebugOutput::CreateForPlatform()->Write("to the journal", 6, kNoContext);
  EXPECT_THAT(redirected.Lines(), ::testing::IsEmpty());
}

#endif

}  // namespace
}  // namespace Pellux
