#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Pellux {

// One entry of a folder's access list; accounts by their SID's text ("S-1-5-18").
struct AccessEntry {
  std::string sid;
  std::uint32_t mask = 0;
  bool allow = true;
  bool inherited = false;
};

struct FolderAccess {
  enum class State { kRead, kMissing, kFailed };
  State state = State::kFailed;
  // For kMissing and kFailed: the call, the code and the system's text.
  std::string error;
  std::string owner;
  // The list takes nothing from the folder above.
  bool isProtected = false;
  std::vector<AccessEntry> entries;
};

// Reads a folder's owner and access list: the security calls of Windows. Called by
// `pelluxctl doctor` on its one thread.
class FolderAccessProbe {
 public:
  FolderAccessProbe() = default;
  FolderAccessProbe(const FolderAccessProbe&) = delete;
  FolderAccessProbe& operator=(const FolderAccessProbe&) = delete;
  virtual ~FolderAccessProbe() = default;

  virtual FolderAccess Read(const std::string& path) = 0;

  static std::unique_ptr<FolderAccessProbe> CreateForPlatform();
};

}  // namespace Pellux
