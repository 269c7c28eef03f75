#pragma once

#include <array>
#include <string>

#include "ui/system/os_release.h"

namespace Pellux {

// What uname(2) says of the running kernel.
struct KernelIdentity {
  std::string release;  // "6.1.0-18-amd64"
  std::string machine;  // "x86_64"
};

// The Linux description in the six fields of the Windows one, from the distribution's
// os-release and the kernel: "Debian GNU/Linux 12 6.1.0 (bookworm) 64-bit Linux".
//  1. the distribution: NAME and VERSION_ID, else PRETTY_NAME (which holds its version), else
//     "Linux" and VERSION_ID;
//  2. the kernel's release numbers, the leading digits of its first three parts (0 if absent);
//  3. the release's code name in parentheses (VERSION_CODENAME), else nothing;
//  4. "64-bit" or "32-bit" by the kernel's machine, which like Windows' native system
//     information names the system's processor, not the program's;
//  5. "Linux".
// The distribution's texts are data: control characters become blanks, blanks at their ends
// go, and each keeps at most 127 bytes (whole UTF-8 characters).
class LinuxSystemInfo {
 public:
  static constexpr std::size_t kMaxFieldBytes = 127;

  LinuxSystemInfo(const OsRelease& release, const KernelIdentity& kernel);

  [[nodiscard]] const std::string& Name() const { return name_; }
  [[nodiscard]] const std::array<int, 3>& KernelVersion() const { return kernelVersion_; }
  [[nodiscard]] const std::string& Details() const { return details_; }
  [[nodiscard]] bool Is64Bit() const { return is64Bit_; }
  [[nodiscard]] std::string Description() const;

  // The leading numbers of "6.1.0-18-amd64": 6, 1, 0. Parts without digits are 0, and a
  // number too large for an int stays at the largest one.
  static std::array<int, 3> ParseKernelRelease(const std::string& release);
  // Whether uname's machine name is that of a 64-bit processor.
  static bool IsMachine64Bit(const std::string& machine);

 private:
  std::string name_;
  std::array<int, 3> kernelVersion_{};
  std::string details_;
  bool is64Bit_ = false;
};

}  // namespace Pellux
