// The account probe of Linux: the user database through getpwnam_r, getgrnam_r and
// getgrouplist (NSS: files, LDAP, systemd's dynamic users alike).

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "base/system_error.h"
#include "tools/pelluxctl/doctor/account_probe.h"

namespace Pellux {
namespace {

// Enough for any entry of a sane database; a larger one is refused rather than chased.
constexpr std::size_t kFirstBuffer = 4096;
constexpr std::size_t kMaxBuffer = std::size_t{1024} * 1024;
constexpr int kMaxGroups = 65536;

// Calls `lookup(buffer, size)` (a getpwnam_r-like function's result code) with a growing buffer.
template <typename Lookup>
int WithBuffer(std::vector<char>& buffer, Lookup lookup) {
  for (std::size_t size = kFirstBuffer;; size *= 2) {
    buffer.assign(size, '\0');
    const int result = lookup(buffer.data(), buffer.size());
    if (result != ERANGE || size >= kMaxBuffer) return result;
  }
}

class LinuxAccountProbe final : public AccountProbe {
 public:
  UserFacts User(const std::string& name) override {
    UserFacts facts;
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer;
    const int result = WithBuffer(buffer, [&](char* data, std::size_t size) {
      return ::getpwnam_r(name.c_str(), &entry, data, size, &found);
    });
    if (result != 0) {
      facts.error = SystemCallFailure("getpwnam_r", name, static_cast<unsigned long>(result));
      return facts;
    }
    if (found == nullptr) {
      facts.state = UserFacts::State::kMissing;
      return facts;
    }
    facts.uid = entry.pw_uid;
    facts.gid = entry.pw_gid;
    int count = 32;
    std::vector<gid_t> groups;
    for (;;) {
      groups.assign(static_cast<std::size_t>(count), 0);
      int wanted = count;
      if (::getgrouplist(name.c_str(), entry.pw_gid, groups.data(), &wanted) >= 0) {
        groups.resize(static_cast<std::size_t>(wanted));
        break;
      }
      if (wanted <= count || wanted > kMaxGroups) {
        facts.error = "getgrouplist(" + name + ") failed: the user has more than " +
                      std::to_string(kMaxGroups) + " groups";
        return facts;
      }
      count = wanted;
    }
    facts.groups.assign(groups.begin(), groups.end());
    facts.state = UserFacts::State::kFound;
    return facts;
  }

  GroupFacts Group(const std::string& name) override {
    GroupFacts facts;
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer;
    const int result = WithBuffer(buffer, [&](char* data, std::size_t size) {
      return ::getgrnam_r(name.c_str(), &entry, data, size, &found);
    });
    if (result != 0) {
      facts.error = SystemCallFailure("getgrnam_r", name, static_cast<unsigned long>(result));
      return facts;
    }
    if (found == nullptr) {
      facts.state = GroupFacts::State::kMissing;
      return facts;
    }
    facts.gid = entry.gr_gid;
    facts.state = GroupFacts::State::kFound;
    return facts;
  }
};

}  // namespace

std::unique_ptr<AccountProbe> AccountProbe::CreateForPlatform() {
  return std::make_unique<LinuxAccountProbe>();
}

}  // namespace Pellux
