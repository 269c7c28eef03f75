#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Pellux {

// Log lines of a device layer, collected from any thread.
class CollectedLines {
 public:
  [[nodiscard]] std::function<void(int, const std::string&)> Sink() {
    return [this](int /*level*/, const std::string& line) {
      std::lock_guard guard(mutex_);
      lines_.push_back(line);
    };
  }
  [[nodiscard]] std::vector<std::string> Lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
  }
  // True when a line holds every one of `parts`.
  [[nodiscard]] bool Has(std::initializer_list<std::string> parts) const {
    std::lock_guard guard(mutex_);
    for (const std::string& line : lines_) {
      bool all = true;
      for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
      if (all) return true;
    }
    return false;
  }
  // Waits until a line holds every one of `parts`, `timeout` at most.
  bool WaitFor(std::initializer_list<std::string> parts, std::chrono::milliseconds timeout) const {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!Has(parts)) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  [[nodiscard]] std::string Joined() const {
    std::lock_guard guard(mutex_);
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace Pellux
