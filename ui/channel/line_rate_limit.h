#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace Pellux {

// Lets a kind of log line through once per key (a sender and what happened) and period, so
// that a client repeating itself cannot flood the log. Not thread-safe: the owner's lock guards
// it.
class LineRateLimit {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  explicit LineRateLimit(std::chrono::milliseconds period = std::chrono::seconds(1))
      : period_(period) {}

  // True when the line of `key` may be written now; then the next one waits a period.
  bool Allow(const std::string& key, TimePoint now) {
    if (last_.size() >= kForgetAbove) Forget(now);
    auto [entry, made] = last_.try_emplace(key, now);
    if (made) return true;
    if (now - entry->second < period_) return false;
    entry->second = now;
    return true;
  }

 private:
  // Keys whose period is over are forgotten once this many are kept.
  static constexpr std::size_t kForgetAbove = 256;

  void Forget(TimePoint now) {
    for (auto entry = last_.begin(); entry != last_.end();) {
      entry = now - entry->second >= period_ ? last_.erase(entry) : std::next(entry);
    }
  }

  const std::chrono::milliseconds period_;
  std::map<std::string, TimePoint> last_;
};

}  // namespace Pellux
