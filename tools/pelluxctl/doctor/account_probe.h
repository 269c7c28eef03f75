#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Pellux {

// A user account and the groups it is a member of.
struct UserFacts {
  enum class State { kFound, kMissing, kFailed };
  State state = State::kFailed;
  std::string error;
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  // Every group of the user, its primary group included.
  std::vector<std::uint32_t> groups;
};

struct GroupFacts {
  enum class State { kFound, kMissing, kFailed };
  State state = State::kFailed;
  std::string error;
  std::uint32_t gid = 0;
};

// Looks up accounts in the system's user database. Called by `pelluxctl doctor` on its one
// thread.
class AccountProbe {
 public:
  AccountProbe() = default;
  AccountProbe(const AccountProbe&) = delete;
  AccountProbe& operator=(const AccountProbe&) = delete;
  virtual ~AccountProbe() = default;

  virtual UserFacts User(const std::string& name) = 0;
  virtual GroupFacts Group(const std::string& name) = 0;

  static std::unique_ptr<AccountProbe> CreateForPlatform();
};

}  // namespace Pellux
