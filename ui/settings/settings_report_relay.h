#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "ui/settings/settings_store.h"

namespace Pellux {

// Carries a settings store's reports to where the program logs, which is made after the store:
// lines reported before a destination is given are held (at most kMaxHeld, the oldest let go)
// and handed on, in order, when it is given. Thread-safe; the destination is called without the
// relay's lock, from the reporting thread (or the one that gives the destination).
class SettingsReportRelay {
 public:
  static constexpr std::size_t kMaxHeld = 64;

  // The reporter to give the store; the relay must outlive the store's use of it.
  SettingsStore::Reporter Reporter();
  // From now on every line goes to `destination`, the held ones first. An empty one holds
  // lines again (before the destination goes away).
  void SendTo(SettingsStore::Reporter destination);

 private:
  void Report(const std::string& line);

  std::mutex mutex_;
  SettingsStore::Reporter destination_;
  std::deque<std::string> held_;
};

}  // namespace Pellux
