#include "ui/settings/settings_report_relay.h"

#include <utility>

namespace Pellux {

SettingsStore::Reporter SettingsReportRelay::Reporter() {
  return [this](const std::string& line) { Report(line); };
}

void SettingsReportRelay::SendTo(SettingsStore::Reporter destination) {
  std::deque<std::string> held;
  SettingsStore::Reporter given;
  {
    const std::lock_guard lock(mutex_);
    destination_ = std::move(destination);
    if (!destination_) return;
    held.swap(held_);
    given = destination_;
  }
  for (const std::string& line : held) given(line);
}

void SettingsReportRelay::Report(const std::string& line) {
  SettingsStore::Reporter destination;
  {
    const std::lock_guard lock(mutex_);
    if (!destination_) {
      if (held_.size() == kMaxHeld) held_.pop_front();
      held_.push_back(line);
      return;
    }
    destination = destination_;
  }
  destination(line);
}

}  // namespace Pellux
