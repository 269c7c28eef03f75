#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

// Who wrote a UI message, as the listener learnt it from the system (never from the message):
// on Linux the peer's credentials of the socket, on Windows the pipe client's token. `user` is
// the key that tells users apart: "uid 1000" on Linux, the user's SID on Windows.
struct UiSender {
  std::string user;
  // Linux: the peer's user and group ids. Unused on Windows.
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  // The sending process; 0 when not known.
  std::uint32_t pid = 0;
  // Windows: the client's session id. Unused on Linux.
  std::uint32_t session = 0;
  // root, or LocalSystem.
  bool system = false;
  // Windows: the client's token is an elevated administrator's.
  bool elevatedAdministrator = false;

  bool operator==(const UiSender&) const = default;

  // A Linux sender as SO_PEERCRED gives it.
  static UiSender FromUnixCredentials(std::uint32_t uid, std::uint32_t gid, std::uint32_t pid) {
    UiSender sender;
    sender.user = "uid " + std::to_string(uid);
    sender.uid = uid;
    sender.gid = gid;
    sender.pid = pid;
    sender.system = uid == 0;
    return sender;
  }
};

}  // namespace Pellux
