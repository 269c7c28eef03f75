#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "ui/log/debug_output.h"

namespace Pellux {

// A debug output that passes every line on and tells `onLine` that the engine did something, so
// that the daemon refreshes its status after activity instead of on a timer of its own. Same
// threads as DebugOutput; `onLine` must be as cheap and as safe as Write itself.
class ActivityOutput final : public DebugOutput {
 public:
  ActivityOutput(std::unique_ptr<DebugOutput> inner, std::function<void()> onLine)
      : inner_(std::move(inner)), onLine_(std::move(onLine)) {}

  void Write(const std::string& text, int level, Context context) override {
    inner_->Write(text, level, context);
    onLine_();
  }

 private:
  const std::unique_ptr<DebugOutput> inner_;
  const std::function<void()> onLine_;
};

}  // namespace Pellux
