#pragma once

#include <mutex>
#include <set>
#include <string>

#include "ui/channel/ui_authority.h"

namespace Pellux {

// An authority for tests: root and LocalSystem, and the users a test names, are
// administrators. Thread-safe; header-only, so that the fuzz build can use it too.
class FixedAuthority final : public UiAuthority {
 public:
  bool IsAdministrator(const UiSender& sender) override {
    std::lock_guard guard(mutex_);
    ++asked_;
    return sender.system || administrators_.count(sender.user) != 0;
  }
  void Add(const std::string& user) {
    std::lock_guard guard(mutex_);
    administrators_.insert(user);
  }
  [[nodiscard]] int Asked() const {
    std::lock_guard guard(mutex_);
    return asked_;
  }

 private:
  mutable std::mutex mutex_;
  std::set<std::string> administrators_;
  int asked_ = 0;
};

// Senders as the Linux listener would report them.
inline UiSender RootSender() {
  return UiSender::FromUnixCredentials(0, 0, 1);
}
inline UiSender UserSender(std::uint32_t uid = 1000) {
  return UiSender::FromUnixCredentials(uid, uid, 4242);
}

}  // namespace Pellux
