#pragma once

#include <string>

#include "base/context.h"

namespace Pellux {

// Where a lower layer sends its log lines without knowing the user interface above it: the
// radio side is given one in its constructor, and UserInterface is the one the system gives.
//
// Called from any thread (the engine's, the pump thread, a transport's receive thread), with or
// without the engine's lock held; an implementation is thread-safe and never calls back into its
// caller synchronously.
class LogSink {
 public:
  LogSink() = default;
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;
  virtual ~LogSink() = default;

  // One finished line at one of the levels of base/log_level.h. The level filters nothing; a
  // LogLevel::kStatus line also reaches the user interface of `context`.
  virtual void Log(const std::string& text, int level, Context context) = 0;
};

}  // namespace Pellux
