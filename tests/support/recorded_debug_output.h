#pragma once

#include <string>

#include "tests/support/waited_texts.h"
#include "ui/log/debug_output.h"

namespace Pellux {

// A debug output that adds each line to `lines`, after its level and a blank when asked to.
class RecordedDebugOutput final : public DebugOutput {
 public:
  explicit RecordedDebugOutput(Messages& lines, bool withLevel = false)
      : lines_(lines), withLevel_(withLevel) {}
  void Write(const std::string& text, int level, Context /*context*/) override {
    lines_.Add(withLevel_ ? std::to_string(level) + " " + text : text);
  }

 private:
  Messages& lines_;
  const bool withLevel_;
};

}  // namespace Pellux
