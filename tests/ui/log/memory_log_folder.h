#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/clock.h"
#include "ui/log/debug_output.h"
#include "ui/log/log_folder.h"

namespace Pellux {

// A log folder in memory whose files are born at the clock's time, which tests may move; the
// cleanup's calls and the writes can be made to fail with a system code. Thread-safe, so tests may
// look at the files while the log writes them.
class MemoryLogFolder final : public LogFolder {
 public:
  enum class Call { kLocate, kList, kRemove, kAppend, kCreate };

  MemoryLogFolder(const Clock& clock, std::string path) : clock_(clock), path_(std::move(path)) {}

  bool Locate(std::string& path, FolderFailure& failure) override;
  bool Create(FolderFailure& failure) override;
  bool List(std::vector<Entry>& files, FolderFailure& failure) override;
  bool Remove(const std::string& path, FolderFailure& failure) override;
  CreateResult CreateNew(const std::string& name, std::unique_ptr<LogFile>& file, std::string& path,
                         FolderFailure& failure) override;

  // Calls of `call` fail with `code` from now on; 0 lets them succeed again. A listing that
  // fails hands out its first `listedBeforeFailing` files first.
  void Fail(Call call, unsigned long code, std::size_t listedBeforeFailing = 0);
  // Puts a file or a folder there as another program would.
  void Put(const std::string& name, std::chrono::system_clock::time_point created,
           std::string contents = "");
  void PutFolder(const std::string& name);
  [[nodiscard]] std::vector<std::string> Names() const;
  [[nodiscard]] std::string Contents(const std::string& name) const;
  [[nodiscard]] bool Exists() const;
  [[nodiscard]] std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

 private:
  struct File {
    std::string contents;
    std::chrono::system_clock::time_point created;
  };
  class MemoryFile;

  bool Failing(Call call, FolderFailure& failure) const;

  const Clock& clock_;
  const std::string path_;
  mutable std::mutex mutex_;
  bool exists_ = false;
  std::map<std::string, File> files_;
  std::set<std::string> folders_;
  std::map<Call, unsigned long> failures_;
  std::size_t listedBeforeFailing_ = 0;
};

// A debug output that keeps every line. Thread-safe.
class RecordingDebugOutput final : public DebugOutput {
 public:
  struct Line {
    std::string text;
    int level;
  };
  void Write(const std::string& text, int level, Context /*context*/) override {
    const std::lock_guard lock(mutex_);
    lines_.push_back({text, level});
  }
  [[nodiscard]] std::vector<Line> Lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Line> lines_;
};

// Pins the process's time zone, so that local time stamps are known: "XYZ-2" is two hours
// east of UTC on both platforms.
void PinTimeZone(const char* zone);

}  // namespace Pellux
