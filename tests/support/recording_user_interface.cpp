#include "tests/support/recording_user_interface.h"

#include <algorithm>

namespace Pellux {

bool RecordingUserInterface::ShowErrorList(int templateNumber,
                                           const std::vector<std::string>& messageKeys,
                                           Context context) {
  std::lock_guard<std::mutex> guard(mutex_);
  errors_.push_back({templateNumber, messageKeys, context});
  return true;
}

bool RecordingUserInterface::DisplayHtml(const std::string& html, Context context, int width,
                                         int height) {
  std::lock_guard<std::mutex> guard(mutex_);
  pages_.push_back({html, context, width, height});
  return true;
}

void RecordingUserInterface::SendRequest(NetworkRequest request, Context context) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.push_back({request, context});
  }
  if (forward) forward(std::move(request), context);
}

void RecordingUserInterface::Log(const std::string& text, int level, Context context) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    logs_.push_back({text, level, context});
  }
  if (onLog) onLog(text);
}

bool RecordingUserInterface::WriteIntSetting(const std::string& section, const std::string& name,
                                             std::uint32_t value) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    settingWrites_.push_back(name + "=" + std::to_string(value));
  }
  return UserInterface::WriteIntSetting(section, name, value);
}

bool RecordingUserInterface::WriteStringSetting(const std::string& section, const std::string& name,
                                                const std::string& value) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    settingWrites_.push_back(name + "=" + value);
  }
  return UserInterface::WriteStringSetting(section, name, value);
}

bool RecordingUserInterface::Relaunch(std::uint16_t vendorId, std::uint16_t productId) {
  std::lock_guard<std::mutex> guard(mutex_);
  relaunches_.push_back({vendorId, productId});
  return true;
}

std::vector<RecordingUserInterface::LogEntry> RecordingUserInterface::Logs() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return logs_;
}

std::vector<std::string> RecordingUserInterface::LogTexts() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> texts;
  texts.reserve(logs_.size());
  for (const auto& entry : logs_) texts.push_back(entry.text);
  return texts;
}

std::vector<RecordingUserInterface::ErrorEntry> RecordingUserInterface::Errors() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return errors_;
}

std::vector<RecordingUserInterface::PageEntry> RecordingUserInterface::Pages() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return pages_;
}

std::vector<RecordingUserInterface::RequestEntry> RecordingUserInterface::Requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

std::vector<RecordingUserInterface::RelaunchEntry> RecordingUserInterface::Relaunches() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return relaunches_;
}

std::vector<std::string> RecordingUserInterface::SettingWrites() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return settingWrites_;
}

std::size_t RecordingUserInterface::CountLog(const std::string& text) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return static_cast<std::size_t>(std::count_if(
      logs_.begin(), logs_.end(), [&](const LogEntry& entry) { return entry.text == text; }));
}

int RecordingUserInterface::FindLog(const std::string& text, int from) const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (std::size_t i = static_cast<std::size_t>(std::max(from, 0)); i < logs_.size(); ++i) {
    if (logs_[i].text == text) return static_cast<int>(i);
  }
  return -1;
}

void RecordingUserInterface::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  logs_.clear();
  errors_.clear();
  pages_.clear();
  requests_.clear();
  relaunches_.clear();
  settingWrites_.clear();
}

}  // namespace Pellux
