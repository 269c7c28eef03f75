#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace Pellux {

// Asks `done` every few milliseconds until it holds or `limit` has passed; false then. For
// whole-program tests that watch another thread or process at its own pace.
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace Pellux
