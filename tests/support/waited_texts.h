#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace Pellux {

// Texts that other threads add (messages a listener hands on, lines it logs), waited for.
class Messages {
 public:
  void Add(const std::string& text) {
    std::lock_guard guard(mutex_);
    items_.push_back(text);
    added_.notify_all();
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock guard(mutex_);
    return added_.wait_for(guard, limit, [&] { return items_.size() >= count; });
  }
  std::vector<std::string> All() const {
    std::lock_guard guard(mutex_);
    return items_;
  }
  void Clear() {
    std::lock_guard guard(mutex_);
    items_.clear();
  }
  std::string At(std::size_t index) const {
    std::lock_guard guard(mutex_);
    return index < items_.size() ? items_[index] : "(none)";
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable added_;
  std::vector<std::string> items_;
};

// Log lines as "<level> <text>".
class Lines : public Messages {
 public:
  void Add(const std::string& line, int level) {
    Messages::Add(std::to_string(level) + " " + line);
  }
};

}  // namespace Pellux
