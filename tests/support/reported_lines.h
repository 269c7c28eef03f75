#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ui/settings/settings_store.h"

namespace Pellux {

// Keeps what a settings store reports; stores may report from several threads at once.
class ReportedLines {
 public:
  SettingsStore::Reporter Reporter() {
    return [this](const std::string& line) {
      const std::lock_guard lock(mutex_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> Take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(lines_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace Pellux
