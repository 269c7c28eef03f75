#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

#include "ui/log/debug_output.h"

namespace Pellux {

// The demo's debug output: every line the uploader writes, on the terminal as it happens, with
// the seconds since the demo started and the line's level. Thread-safe.
class DemoConsole final : public DebugOutput {
 public:
  // `out` must outlive the console.
  explicit DemoConsole(std::ostream& out) : out_(out) {}

  void Write(const std::string& text, int level, Context context) override;

 private:
  std::ostream& out_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
};

}  // namespace Pellux
