#include "ui/log/activity_log.h"

#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "ui/log/local_time.h"

namespace Pellux {
namespace {

// Opens within one second share a time stamp; past this many files of one second the open
// gives up rather than search on.
constexpr int kNamesPerSecond = 100;
// "%m/%d %H:%M:%S " before each line.
constexpr std::size_t kStampBytes = 15;

}  // namespace

ActivityLog::ActivityLog(SettingsStore& settings, LogFolder& folder, DebugOutput& debug,
                         const Clock& clock, std::string versionText, Sink sink)
    : settings_(settings),
      folder_(folder),
      debug_(debug),
      clock_(clock),
      versionText_(std::move(versionText)),
      sink_(std::move(sink)),
      rollStart_(clock.Now()) {
  LoadSettings();
}

ActivityLog::~ActivityLog() {
  const std::lock_guard lock(mutex_);
  CloseLocked(kTerminatedMarker);
}

void ActivityLog::LoadSettings() {
  bool enabled = false;
  std::int32_t days = 0;
  std::uint32_t maxBytes = kDefaultMaxBytes;
  {
    const std::lock_guard lock(mutex_);
    enabled = enabled_;
    days = maxDays_;
    maxBytes = maxBytes_;
  }
  // The store is asked without our lock: it may report a problem through the owner's Log. A
  // value there but unusable is left as it is, and the value in use stays.
  const auto writeBack = [this](const char* name, std::uint32_t value) {
    if (!settings_.HoldsUnusable(kSection, name, SettingsStore::Kind::kNumber)) {
      settings_.WriteNumber(kSection, name, value);
    }
  };
  if (const auto stored = settings_.ReadNumber(kSection, kEnabledSetting)) {
    enabled = *stored != 0;
  } else {
    writeBack(kEnabledSetting, enabled ? 1 : 0);
  }
  if (const auto stored = settings_.ReadNumber(kSection, kDaysSetting)) {
    days = static_cast<std::int32_t>(*stored);
  } else {
    writeBack(kDaysSetting, static_cast<std::uint32_t>(days));
  }
  if (const auto stored = settings_.ReadNumber(kSection, kMaxBytesSetting)) {
    maxBytes = *stored != 0 ? *stored : kDefaultMaxBytes;
  } else {
    writeBack(kMaxBytesSetting, maxBytes);
  }
  const std::lock_guard lock(mutex_);
  enabled_ = enabled;
  maxDays_ = days < 0 ? 0 : days;
  maxBytes_ = maxBytes;
}

bool ActivityLog::Open() {
  std::vector<OwnLine> held;
  bool opened = false;
  {
    const std::lock_guard lock(mutex_);
    opened = OpenLocked(OwnLines::kToSink, held);
  }
  Emit(held);
  return opened;
}

void ActivityLog::WriteLine(const std::string& text) {
  const std::lock_guard lock(mutex_);
  if (!file_) return;
  const auto now = clock_.Now();
  if (EpochSeconds(now) - EpochSeconds(rollStart_) > kRollPeriod.count()) {
    CloseLocked(kRollMarker);
    // The roll happens inside a line of the owner's Log, which cannot take the cleanup's lines
    // back: they go to the debug output only.
    std::vector<OwnLine> unused;
    OpenLocked(OwnLines::kToDebugOnly, unused);
  }
  if (!file_ || fileFull_) return;
  // The stamp and the line end count too; the marker that says so is let past the cap.
  if (fileBytes_ + text.size() + kLineEnd.size() + kStampBytes > maxBytes_) {
    fileFull_ = true;
    WriteStampedLocked(now, kFullMarker);
    return;
  }
  WriteStampedLocked(now, text);
}

void ActivityLog::CloseWithMarker(const std::string& marker) {
  const std::lock_guard lock(mutex_);
  CloseLocked(marker);
}

void ActivityLog::Cleanup() {
  std::vector<OwnLine> held;
  {
    const std::lock_guard lock(mutex_);
    CleanupLocked(OwnLines::kToSink, held);
  }
  Emit(held);
}

void ActivityLog::ApplySettings(std::int32_t enabled, std::int32_t days) {
  settings_.WriteNumber(kSection, kEnabledSetting, enabled != 0 ? 1 : 0);
  settings_.WriteNumber(kSection, kDaysSetting, static_cast<std::uint32_t>(days));
  LoadSettings();
  std::vector<OwnLine> held;
  {
    const std::lock_guard lock(mutex_);
    if (!IsActiveLocked()) {
      CloseLocked(kDisabledMarker);
      CleanupLocked(OwnLines::kToSink, held);
    } else if (!file_) {
      OpenLocked(OwnLines::kToSink, held);
    }
  }
  Emit(held);
}

bool ActivityLog::IsActive() const {
  const std::lock_guard lock(mutex_);
  return IsActiveLocked();
}

bool ActivityLog::IsOpen() const {
  const std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

std::string ActivityLog::CurrentPath() const {
  const std::lock_guard lock(mutex_);
  return filePath_;
}

std::string ActivityLog::OpenFailure() const {
  const std::lock_guard lock(mutex_);
  return openFailure_;
}

bool ActivityLog::OpenLocked(OwnLines route, std::vector<OwnLine>& held) {
  if (!IsActiveLocked()) return false;
  CleanupLocked(route, held);
  CloseLocked(kInterruptMarker);
  const auto now = clock_.Now();
  rollStart_ = now;
  // A folder or file that cannot be made leaves the log without a file until the next open.
  if (FolderFailure failure; !folder_.Create(failure)) {
    ReportFailure(failure);
    openFailure_ = failure.line;
    return false;
  }
  if (!CreateFileLocked(now)) {
    openFailure_ = lastFailure_;
    return false;
  }
  openFailure_.clear();
  WriteStampedLocked(now, "*** Pellux Data Uploader Service " + versionText_ + " ***");
  return true;
}

void ActivityLog::CloseLocked(const std::string& marker) {
  if (!file_) return;
  WriteStampedLocked(clock_.Now(), marker);
  file_.reset();
  filePath_.clear();
}

void ActivityLog::CleanupLocked(OwnLines route, std::vector<OwnLine>& held) {
  std::string folderPath;
  FolderFailure failure;
  if (!folder_.Locate(folderPath, failure)) {
    ReportFailure(failure);
    Report(route, held, "LOG CLEANUP: failed to open log directory", LogLevel::kError);
    return;
  }
  std::vector<LogFolder::Entry> files;
  const bool listed = folder_.List(files, failure);
  const std::int64_t now = EpochSeconds(clock_.Now());
  const std::int64_t oldest = std::int64_t{maxDays_} * kRollPeriod.count();
  for (const auto& file : files) {
    // A file made "in the future" (the clock was set back since) is young, not ancient.
    const std::int64_t age = now - EpochSeconds(file.created);
    if (age <= oldest) continue;
    Report(route, held, FormatLine("LOG CLEANUP: deleting '%s'", file.path).str(),
           LogLevel::kTrace);
    // The cleanup tells nobody but the debug output about a file it could not delete: the
    // next cleanup tries again.
    if (FolderFailure removeFailure; !folder_.Remove(file.path, removeFailure)) {
      ReportFailure(removeFailure);
    }
  }
  if (!listed) {
    ReportFailure(failure);
    Report(route, held, FormatLine("LOG CLEANUP: error %u", failure.code).str(),
           LogLevel::kIgnored);
  }
}

void ActivityLog::WriteStampedLocked(std::chrono::system_clock::time_point now,
                                     const std::string& text) {
  std::string line = FormatLocalTime("%m/%d %H:%M:%S ", now);
  line += text;
  line += kLineEnd;
  fileBytes_ += line.size();
  FolderFailure failure;
  if (file_->Append(line, failure)) {
    writeFailing_ = false;
  } else if (!writeFailing_) {
    // Once per run of failures: a full disk would otherwise double every line it loses.
    writeFailing_ = true;
    ReportFailure(failure);
  }
}

bool ActivityLog::CreateFileLocked(std::chrono::system_clock::time_point now) {
  // Two opens within one second would otherwise share a name; a file is never replaced, so
  // the later one takes the next free name of the same pattern.
  const std::string stem = FormatLocalTime("log-%Y%m%d%H%M%S", now);
  for (int number = 0; number < kNamesPerSecond; ++number) {
    const std::string name =
        number == 0 ? stem + ".txt" : stem + "-" + std::to_string(number) + ".txt";
    std::unique_ptr<LogFile> file;
    std::string path;
    FolderFailure failure;
    switch (folder_.CreateNew(name, file, path, failure)) {
      case LogFolder::CreateResult::kCreated:
        file_ = std::move(file);
        filePath_ = std::move(path);
        writeFailing_ = false;
        fileBytes_ = 0;
        fileFull_ = false;
        return true;
      case LogFolder::CreateResult::kNameTaken:
        continue;
      case LogFolder::CreateResult::kFailed:
        ReportFailure(failure);
        return false;
    }
  }
  lastFailure_ = "no free file name left for " + stem + ".txt";
  debug_.Write("Activity log: " + lastFailure_, LogLevel::kError, kNoContext);
  return false;
}

void ActivityLog::Report(OwnLines route, std::vector<OwnLine>& held, std::string text, int level) {
  if (route == OwnLines::kToSink && sink_) {
    held.push_back({std::move(text), level});
  } else {
    debug_.Write(text, level, kNoContext);
  }
}

void ActivityLog::ReportFailure(const FolderFailure& failure) {
  lastFailure_ = failure.line;
  debug_.Write("Activity log: " + failure.line, LogLevel::kError, kNoContext);
}

void ActivityLog::Emit(std::vector<OwnLine>& held) {
  for (auto& line : held) sink_(line.text, line.level);
  held.clear();
}

}  // namespace Pellux
