#include "ui/system/linux_system_info.h"

#include <boost/format.hpp>
#include <climits>
#include <string_view>

namespace Pellux {
namespace {

// A value of the os-release made fit for one line; empty when nothing printable is left.
std::string CleanField(const std::optional<std::string>& value) {
  if (!value) return {};
  std::string text;
  for (const char c : *value) {
    const auto byte = static_cast<unsigned char>(c);
    text += (byte < 0x20 || byte == 0x7F) ? ' ' : c;
  }
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (text.size() > LinuxSystemInfo::kMaxFieldBytes) {
    std::size_t end = LinuxSystemInfo::kMaxFieldBytes;
    // Not inside a UTF-8 character: back off over its continuation bytes.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    text.erase(text.find_last_not_of(' ') + 1);
  }
  return text;
}

}  // namespace

LinuxSystemInfo::LinuxSystemInfo(const OsRelease& release, const KernelIdentity& kernel)
    : kernelVersion_(ParseKernelRelease(kernel.release)), is64Bit_(IsMachine64Bit(kernel.machine)) {
  const std::string name = CleanField(release.Get("NAME"));
  const std::string versionId = CleanField(release.Get("VERSION_ID"));
  const std::string prettyName = CleanField(release.Get("PRETTY_NAME"));
  if (!name.empty()) {
    name_ = versionId.empty() ? name : name + " " + versionId;
  } else if (!prettyName.empty()) {
    name_ = prettyName;
  } else {
    name_ = versionId.empty() ? "Linux" : "Linux " + versionId;
  }
  if (const std::string codeName = CleanField(release.Get("VERSION_CODENAME")); !codeName.empty()) {
    details_ = "(" + codeName + ")";
  }
}

std::string LinuxSystemInfo::Description() const {
  return (boost::format("%s %d.%d.%d %s %s %s") % name_ % kernelVersion_[0] % kernelVersion_[1] %
          kernelVersion_[2] % details_ % (is64Bit_ ? "64-bit" : "32-bit") % "Linux")
      .str();
}

std::array<int, 3> LinuxSystemInfo::ParseKernelRelease(const std::string& release) {
  std::array<int, 3> numbers{};
  std::size_t at = 0;
  for (int& number : numbers) {
    while (at < release.size() && release[at] >= '0' && release[at] <= '9') {
      const int digit = release[at++] - '0';
      number = number > (INT_MAX - digit) / 10 ? INT_MAX : number * 10 + digit;
    }
    // The parts are separated by dots; whatever else follows ends the numbers.
    if (at >= release.size() || release[at] != '.') break;
    ++at;
  }
  return numbers;
}

bool LinuxSystemInfo::IsMachine64Bit(const std::string& machine) {
  // x86_64, aarch64, ppc64le, riscv64, mips64, sparc64, loongarch64, ia64, and two without 64.
  return machine.find("64") != std::string::npos || machine == "s390x" || machine == "alpha";
}

}  // namespace Pellux
