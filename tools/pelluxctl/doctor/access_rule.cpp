#include "tools/pelluxctl/doctor/access_rule.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace Pellux {

bool UserMayOpen(const FileFacts& facts, const UserFacts& user, std::uint32_t wanted) {
  if (user.uid == 0) return true;
  std::uint32_t bits = facts.mode;
  if (facts.owner == user.uid) {
    bits >>= 6;
  } else if (facts.group == user.gid ||
             std::ranges::find(user.groups, facts.group) != user.groups.end()) {
    bits >>= 3;
  }
  return (bits & wanted) == wanted;
}

std::string ModeText(std::uint32_t mode) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & 07777U));
  return text.data();
}

}  // namespace Pellux
