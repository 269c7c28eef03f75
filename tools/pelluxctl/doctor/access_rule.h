#pragma once

#include <cstdint>

#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/file_probe.h"

namespace Pellux {

// The permission bits a user needs: 04 to read, 02 to write, 06 both.
inline constexpr std::uint32_t kReadAccess = 04;
inline constexpr std::uint32_t kReadWriteAccess = 06;

// Whether `user` may open a file with `facts` for `wanted` (kReadAccess, kReadWriteAccess) by
// its owner, group and permission bits, as the kernel decides without access control lists:
// the owner's bits when the user owns it, else the group's when the file's group is one of the
// user's, else the others'. Root may always. Pure.
bool UserMayOpen(const FileFacts& facts, const UserFacts& user, std::uint32_t wanted);

// "0660", the permission bits as chmod takes them.
std::string ModeText(std::uint32_t mode);

}  // namespace Pellux
