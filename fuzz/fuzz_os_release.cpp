// The distribution's os-release file is outside text: whatever it holds, the parser must stop
// cleanly, keep no value past its bound, and the description made from it must stay one line.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/system/linux_system_info.h"
#include "ui/system/os_release.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Pellux::OsRelease release = Pellux::OsRelease::Parse(text);
  for (const char* key : {"NAME", "PRETTY_NAME", "VERSION_ID", "VERSION_CODENAME"}) {
    if (release.Get(key).value_or("").size() > Pellux::OsRelease::kMaxValueBytes) std::abort();
  }
  const std::string description =
      Pellux::LinuxSystemInfo(release, {.release = "6.1.0-18-amd64", .machine = "x86_64"})
          .Description();
  if (description.find_first_of("\r\n") != std::string::npos) std::abort();
  if (description.size() > 3 * Pellux::LinuxSystemInfo::kMaxFieldBytes + 64) std::abort();
  return 0;
}
