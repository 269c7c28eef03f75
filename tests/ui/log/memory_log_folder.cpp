#include "tests/ui/log/memory_log_folder.h"

#include <cstdlib>
#include <ctime>

namespace Pellux {

class MemoryLogFolder::MemoryFile final : public LogFile {
 public:
  MemoryFile(MemoryLogFolder& folder, std::string name) : folder_(folder), name_(std::move(name)) {}
  bool Append(const std::string& bytes, FolderFailure& failure) override {
    const std::lock_guard lock(folder_.mutex_);
    if (folder_.Failing(Call::kAppend, failure)) return false;
    folder_.files_[name_].contents += bytes;
    return true;
  }

 private:
  MemoryLogFolder& folder_;
  const std::string name_;
};

bool MemoryLogFolder::Failing(Call call, FolderFailure& failure) const {
  const auto found = failures_.find(call);
  if (found == failures_.end() || found->second == 0) return false;
  failure = {found->second, "memory call " + std::to_string(static_cast<int>(call)) +
                                " failed: code " + std::to_string(found->second)};
  return true;
}

bool MemoryLogFolder::Locate(std::string& path, FolderFailure& failure) {
  const std::lock_guard lock(mutex_);
  if (Failing(Call::kLocate, failure)) return false;
  path = path_;
  return true;
}

bool MemoryLogFolder::Create(FolderFailure& failure) {
  const std::lock_guard lock(mutex_);
  if (Failing(Call::kCreate, failure)) return false;
  exists_ = true;
  return true;
}

bool MemoryLogFolder::List(std::vector<Entry>& files, FolderFailure& failure) {
  const std::lock_guard lock(mutex_);
  for (const auto& [name, file] : files_) {
    const bool matches = name.size() >= 8 && name.rfind("log-", 0) == 0 &&
                         name.compare(name.size() - 4, 4, ".txt") == 0;
    if (!matches) continue;
    if (failures_[Call::kList] != 0 && files.size() == listedBeforeFailing_) break;
    files.push_back({PathOf(name), file.created});
  }
  return !Failing(Call::kList, failure);
}

bool MemoryLogFolder::Remove(const std::string& path, FolderFailure& failure) {
  const std::lock_guard lock(mutex_);
  if (Failing(Call::kRemove, failure)) return false;
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (PathOf(it->first) == path) {
      files_.erase(it);
      return true;
    }
  }
  failure = {2, "memory remove: no such file"};
  return false;
}

LogFolder::CreateResult MemoryLogFolder::CreateNew(const std::string& name,
                                                   std::unique_ptr<LogFile>& file,
                                                   std::string& path, FolderFailure& failure) {
  const std::lock_guard lock(mutex_);
  if (files_.contains(name) || folders_.contains(name)) return CreateResult::kNameTaken;
  if (!exists_) {
    failure = {3, "memory create: no folder"};
    return CreateResult::kFailed;
  }
  files_[name] = File{"", clock_.Now()};
  file = std::make_unique<MemoryFile>(*this, name);
  path = PathOf(name);
  return CreateResult::kCreated;
}

void MemoryLogFolder::Fail(Call call, unsigned long code, std::size_t listedBeforeFailing) {
  const std::lock_guard lock(mutex_);
  failures_[call] = code;
  listedBeforeFailing_ = listedBeforeFailing;
}

void MemoryLogFolder::Put(const std::string& name, std::chrono::system_clock::time_point created,
                          std::string contents) {
  const std::lock_guard lock(mutex_);
  exists_ = true;
  files_[name] = File{std::move(contents), created};
}

void MemoryLogFolder::PutFolder(const std::string& name) {
  const std::lock_guard lock(mutex_);
  exists_ = true;
  folders_.insert(name);
}

std::vector<std::string> MemoryLogFolder::Names() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& entry : files_) names.push_back(entry.first);
  return names;
}

std::string MemoryLogFolder::Contents(const std::string& name) const {
  const std::lock_guard lock(mutex_);
  const auto found = files_.find(name);
  return found == files_.end() ? "" : found->second.contents;
}

bool MemoryLogFolder::Exists() const {
  const std::lock_guard lock(mutex_);
  return exists_;
}

void PinTimeZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone);
  _tzset();
#else
  setenv("TZ", zone, 1);
  tzset();
#endif
}

}  // namespace Pellux
