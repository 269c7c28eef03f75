#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/context.h"
#include "base/ui_sender.h"

namespace Pellux {

// The reply endpoints UIs have named, one per user and name, each the Context that the engine,
// the network workers and the reply channel are handed. An endpoint is kept while something
// holds its context (the engine's session, a request in flight) or for a short while after its
// last message; then it is let go, so that UIs naming a new endpoint for every message (as
// pelluxctl does) never fill the table. Each user has a cap of his own: at it, his endpoint
// that has waited longest and is not held makes room, so one user cannot use up what others
// need.
//
// Threads: Intern runs on the pipe listener's thread (with the service pipe's lock held), Hold
// and Release on any thread (the engine's, with its lock held, and the network workers'). The
// table's own lock is the innermost: nothing is called while it is held.
class ReplyEndpoints {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  // How long an endpoint that nothing holds is kept after its last message.
  static constexpr std::chrono::seconds kLinger{30};
  // Reply names past this length are refused: no endpoint of either platform has a longer one.
  static constexpr std::size_t kMaxNameBytes = 256;
  static constexpr std::size_t kMaxPerUser = 64;
  static constexpr std::size_t kMaxEndpoints = 4096;

  ReplyEndpoints() = default;
  ReplyEndpoints(const ReplyEndpoints&) = delete;
  ReplyEndpoints& operator=(const ReplyEndpoints&) = delete;

  // The endpoint `name` of `sender`'s user, made if new; its last message is now. `alsoHeld` are
  // contexts held elsewhere (the engine's) that must not be let go. Null when refused: an empty
  // or too long name, or a user (or the whole table) at the cap with every endpoint held.
  Context Intern(const UiSender& sender, const std::string& name, TimePoint now,
                 const std::vector<Context>& alsoHeld);
  // The endpoint if known, else null; changes nothing.
  [[nodiscard]] Context Find(const std::string& user, const std::string& name) const;

  // A request carrying `context` is in flight: its endpoint stays until the matching Release.
  // kNoContext is ignored.
  void Hold(Context context);
  void Release(Context context);

  [[nodiscard]] std::size_t Size() const;

 private:
  using Key = std::pair<std::string, std::string>;
  struct Entry {
    ReplyEndpoint endpoint;
    TimePoint lastMessage;
  };

  [[nodiscard]] bool IsHeld(Context context, const std::vector<Context>& alsoHeld) const;
  // Lets go of every endpoint past its linger that nothing holds.
  void Sweep(TimePoint now, const std::vector<Context>& alsoHeld);
  // Lets go of the endpoint, among those of `user` (all when empty), whose last message is the
  // oldest and that nothing holds; false when every one is held.
  bool EvictOldest(const std::string& user, const std::vector<Context>& alsoHeld);
  void Erase(std::map<Key, Entry>::iterator entry);

  mutable std::mutex mutex_;
  std::map<Key, Entry> entries_;
  std::map<std::string, std::size_t> perUser_;
  std::map<Context, std::size_t> holds_;
  TimePoint nextSweep_{};
};

}  // namespace Pellux
