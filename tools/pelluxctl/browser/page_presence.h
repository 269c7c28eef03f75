#pragma once

#include <chrono>

namespace Pellux {

// Whether the user still has the browser page open, told by its event streams: a page holds
// one open while it is shown, and a reload closes it and opens another within moments. The page
// counts as closed once no stream has been open for `grace` after one was. Time comes from the
// caller. Not thread-safe.
class PagePresence {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  enum class State { kNotOpened, kOpen, kClosed };

  explicit PagePresence(std::chrono::milliseconds grace) : grace_(grace) {}

  void StreamOpened();
  void StreamClosed(TimePoint now);
  [[nodiscard]] State At(TimePoint now) const;

 private:
  std::chrono::milliseconds grace_;
  int open_ = 0;
  bool opened_ = false;
  TimePoint lastClosed_{};
};

}  // namespace Pellux
