#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "ui/log/debug_output.h"
#include "ui/log/log_folder.h"
#include "ui/settings/settings_store.h"

namespace Pellux {

// The activity log: dated plain-text files of every log line, kept only while the user has
// switched logging on ("LogActivity") and for as many days as the user chose ("MaxLogDays").
// A file starts with a banner, is rolled once it is more than a day old (checked when a line is
// written), ends with a marker line that says why, and files older than the chosen days are
// deleted when a file is opened or logging is switched off.
//
// Thread-safe: the file, the roll check and the opening and closing form one unit under one
// lock, so lines from the engine, the pipe listener, the timer thread and the network workers
// never interleave and a roll happens once. The log never calls the settings store nor the sink
// with its lock held, so either may log through the owner's Log, which writes here again.
class ActivityLog {
 public:
  // Receives the log's own lines (the cleanup's), with their level, for the owner's Log. Called
  // from the thread of the call that produced them, after that call has let go of the lock.
  using Sink = std::function<void(const std::string& text, int level)>;

  static constexpr const char* kSection = "Tracker";
  static constexpr const char* kEnabledSetting = "LogActivity";
  static constexpr const char* kDaysSetting = "MaxLogDays";
  // The most bytes of lines one file takes (a file lasts a day): past it one line says so and
  // the lines until the next roll are dropped, so that nobody fills the disk through the log.
  static constexpr const char* kMaxBytesSetting = "MaxLogBytes";
  static constexpr std::uint32_t kDefaultMaxBytes = 16U * 1024 * 1024;
  static constexpr const char* kFullMarker =
      "<<< LOG FILE FULL: NO MORE LINES UNTIL THE NEXT ROLL >>>";
  static constexpr std::chrono::seconds kRollPeriod{86400};

  static constexpr const char* kRollMarker = "<<< LOG ROLL >>>";
  static constexpr const char* kInterruptMarker = "<<< USER INTERRUPT >>>";
  static constexpr const char* kDisabledMarker = "<<< LOGGING DISABLED BY USER >>>";
  static constexpr const char* kTerminatedMarker = "<<< APPLICATION TERMINATED >>>";

#ifdef _WIN32
  static constexpr std::string_view kLineEnd = "\r\n";
#else
  static constexpr std::string_view kLineEnd = "\n";
#endif

  // Loads the settings; no file is opened yet. `settings`, `folder`, `debug` and `clock` must
  // outlive the log. `versionText` goes into each file's banner.
  ActivityLog(SettingsStore& settings, LogFolder& folder, DebugOutput& debug, const Clock& clock,
              std::string versionText, Sink sink);
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;
  // Closes an open file with "<<< APPLICATION TERMINATED >>>": the log lives as long as the
  // user interface bridge that holds it, which goes at service shutdown.
  ~ActivityLog();

  // Reads "LogActivity", "MaxLogDays" and "MaxLogBytes" (section "Tracker"); a missing value is
  // stored with the value in use, a negative number of days is taken as 0, and 0 bytes as the
  // default. Any thread.
  void LoadSettings();
  // Opens a new file when logging is active: runs the cleanup, closes an open file with
  // "<<< USER INTERRUPT >>>", creates the folder and a file named after the local time, and
  // writes the banner. True when a file is open afterwards. Any thread.
  bool Open();
  // Writes "%m/%d %H:%M:%S " (local time), `text` and a line end as one write, when a file is
  // open and not full; rolls the file first when it is more than a day old. Any thread.
  void WriteLine(const std::string& text);
  // Writes `marker` as a line and closes the file; does nothing when no file is open. Any
  // thread.
  void CloseWithMarker(const std::string& marker);
  // Deletes the "log-*.txt" files older than the chosen days. Any thread.
  void Cleanup();
  // The user interface's logging message: stores the settings, loads them again, and either
  // closes the file with "<<< LOGGING DISABLED BY USER >>>" and runs the cleanup (logging now
  // inactive), or opens a file when none is open. The same settings again leave an open file
  // as it is. Any thread.
  void ApplySettings(std::int32_t enabled, std::int32_t days);

  // Whether logging is on with more than 0 days, and whether a file is open. Any thread.
  [[nodiscard]] bool IsActive() const;
  [[nodiscard]] bool IsOpen() const;
  // The open file's full path; empty when no file is open. Any thread.
  [[nodiscard]] std::string CurrentPath() const;
  // Why the last Open that should have opened a file did not (the folder's or the file's
  // failure); empty after one that did. Any thread.
  [[nodiscard]] std::string OpenFailure() const;

 private:
  // A line of the log's own, held back until the lock is released.
  struct OwnLine {
    std::string text;
    int level;
  };
  // Where the cleanup's lines go: back to the owner, or (during a roll) the debug output only.
  enum class OwnLines { kToSink, kToDebugOnly };

  void StoreSettings(bool enabled, std::int32_t days);
  bool OpenLocked(OwnLines route, std::vector<OwnLine>& held);
  void CloseLocked(const std::string& marker);
  void CleanupLocked(OwnLines route, std::vector<OwnLine>& held);
  void WriteStampedLocked(std::chrono::system_clock::time_point now, const std::string& text);
  // Creates "log-<local time>.txt", or the next free "log-<local time>-<n>.txt".
  bool CreateFileLocked(std::chrono::system_clock::time_point now);
  void Report(OwnLines route, std::vector<OwnLine>& held, std::string text, int level);
  void ReportFailure(const FolderFailure& failure);
  void Emit(std::vector<OwnLine>& held);
  [[nodiscard]] bool IsActiveLocked() const {
    return enabled_ && maxDays_ > 0;
  }

  SettingsStore& settings_;
  LogFolder& folder_;
  DebugOutput& debug_;
  const Clock& clock_;
  const std::string versionText_;
  const Sink sink_;

  mutable std::mutex mutex_;
  bool enabled_ = false;
  std::int32_t maxDays_ = 0;
  std::uint32_t maxBytes_ = kDefaultMaxBytes;
  // What the current file holds, and whether it is full.
  std::uint64_t fileBytes_ = 0;
  bool fileFull_ = false;
  std::unique_ptr<LogFile> file_;
  std::string filePath_;
  std::string openFailure_;
  std::string lastFailure_;
  // Set after a write to the current file failed, so that a full disk is reported once.
  bool writeFailing_ = false;
  std::chrono::system_clock::time_point rollStart_;
};

}  // namespace Pellux
