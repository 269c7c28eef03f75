#pragma once

#include <memory>
#include <string>

#include "base/context.h"

namespace Pellux {

// Where every log line goes whether or not the activity log is on: the debugger output on
// Windows; on Linux the systemd journal when the daemon runs under systemd, else standard error.
// The level (base/log_level.h) filters nothing; backends may record it beside the text.
class DebugOutput {
 public:
  DebugOutput() = default;
  DebugOutput(const DebugOutput&) = delete;
  DebugOutput& operator=(const DebugOutput&) = delete;
  virtual ~DebugOutput() = default;

  // Sends one line (the line end is added here). Called from any thread, also with the
  // activity log's lock held: thread-safe, never calls back into a log, and one line is never
  // mixed with another.
  virtual void Write(const std::string& text, int level, Context context) = 0;

  // The output of this platform, chosen once, at creation.
  static std::unique_ptr<DebugOutput> CreateForPlatform();
};

}  // namespace Pellux
