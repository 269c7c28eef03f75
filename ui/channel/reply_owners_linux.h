#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace Pellux {

// Who named each reply endpoint: the user id of the last process whose message named it, as
// the listener learnt it from the kernel (SO_PEERCRED). The reply channel sends to an endpoint
// only when its listener is that same user (or root), so that no user can have the service
// write another user's pages to an endpoint of his own, nor to anyone else's. Thread-safe: the
// listener records, the reply channel reads from any thread.
class ReplyOwners {
 public:
  // As many as the service pipe keeps names; names past that are refused there anyway.
  static constexpr std::size_t kMaxNames = 4096;

  void Record(const std::string& name, std::uint32_t uid) {
    std::lock_guard guard(mutex_);
    const auto known = owners_.find(name);
    if (known != owners_.end()) {
      known->second = uid;
    } else if (owners_.size() < kMaxNames) {
      owners_.emplace(name, uid);
    }
  }

  [[nodiscard]] std::optional<std::uint32_t> OwnerOf(const std::string& name) const {
    std::lock_guard guard(mutex_);
    const auto known = owners_.find(name);
    if (known == owners_.end()) return std::nullopt;
    return known->second;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::uint32_t, std::less<>> owners_;
};

}  // namespace Pellux
