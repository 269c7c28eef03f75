#include "ui/channel/reply_endpoints.h"

#include <algorithm>

namespace Pellux {
namespace {

// Endpoints past their linger are looked for at most this often, unless a cap is reached.
constexpr std::chrono::seconds kSweepInterval{1};

}  // namespace

Context ReplyEndpoints::Intern(const UiSender& sender, const std::string& name, TimePoint now,
                               const std::vector<Context>& alsoHeld) {
  if (name.empty() || name.size() > kMaxNameBytes) return kNoContext;
  std::lock_guard guard(mutex_);
  if (now >= nextSweep_) {
    Sweep(now, alsoHeld);
    nextSweep_ = now + kSweepInterval;
  }
  Key key{sender.user, name};
  if (auto known = entries_.find(key); known != entries_.end()) {
    known->second.lastMessage = now;
    return &known->second.endpoint;
  }
  const auto count = perUser_.find(sender.user);
  if (count != perUser_.end() && count->second >= kMaxPerUser &&
      !EvictOldest(sender.user, alsoHeld)) {
    return kNoContext;
  }
  if (entries_.size() >= kMaxEndpoints && !EvictOldest("", alsoHeld)) return kNoContext;
  auto made = entries_.emplace(std::move(key), Entry{ReplyEndpoint{name, sender}, now}).first;
  ++perUser_[sender.user];
  return &made->second.endpoint;
}

Context ReplyEndpoints::Find(const std::string& user, const std::string& name) const {
  std::lock_guard guard(mutex_);
  const auto known = entries_.find(Key{user, name});
  return known == entries_.end() ? kNoContext : &known->second.endpoint;
}

void ReplyEndpoints::Hold(Context context) {
  if (context == kNoContext) return;
  std::lock_guard guard(mutex_);
  ++holds_[context];
}

void ReplyEndpoints::Release(Context context) {
  if (context == kNoContext) return;
  std::lock_guard guard(mutex_);
  const auto held = holds_.find(context);
  if (held == holds_.end()) return;
  if (--held->second == 0) holds_.erase(held);
}

std::size_t ReplyEndpoints::Size() const {
  std::lock_guard guard(mutex_);
  return entries_.size();
}

bool ReplyEndpoints::IsHeld(Context context, const std::vector<Context>& alsoHeld) const {
  return holds_.contains(context) ||
         std::find(alsoHeld.begin(), alsoHeld.end(), context) != alsoHeld.end();
}

void ReplyEndpoints::Sweep(TimePoint now, const std::vector<Context>& alsoHeld) {
  for (auto entry = entries_.begin(); entry != entries_.end();) {
    const auto next = std::next(entry);
    if (now - entry->second.lastMessage >= kLinger && !IsHeld(&entry->second.endpoint, alsoHeld)) {
      Erase(entry);
    }
    entry = next;
  }
}

bool ReplyEndpoints::EvictOldest(const std::string& user, const std::vector<Context>& alsoHeld) {
  auto oldest = entries_.end();
  auto entry = user.empty() ? entries_.begin() : entries_.lower_bound(Key{user, ""});
  for (; entry != entries_.end() && (user.empty() || entry->first.first == user); ++entry) {
    if (IsHeld(&entry->second.endpoint, alsoHeld)) continue;
    if (oldest == entries_.end() || entry->second.lastMessage < oldest->second.lastMessage) {
      oldest = entry;
    }
  }
  if (oldest == entries_.end()) return false;
  Erase(oldest);
  return true;
}

void ReplyEndpoints::Erase(std::map<Key, Entry>::iterator entry) {
  const auto count = perUser_.find(entry->first.first);
  if (count != perUser_.end() && --count->second == 0) perUser_.erase(count);
  entries_.erase(entry);
}

}  // namespace Pellux
