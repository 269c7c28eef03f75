// A library file named by an administrator (the installer's VENDORDIR) or found beside the
// service is outside input: whatever its first bytes, the header reader must stop cleanly,
// read nothing past them, and say the same of the same bytes however many follow them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/portable_executable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view head(reinterpret_cast<const char*>(data), size);
  const auto header = Pellux::ReadPortableExecutableHeader(head);
  // Only the first kPortableExecutableHeadBytes count: more bytes change nothing.
  const std::string longer = std::string(head) + std::string(64, '\xff');
  if (size >= Pellux::kPortableExecutableHeadBytes &&
      Pellux::ReadPortableExecutableHeader(longer) != header) {
    std::abort();
  }
  if (header && Pellux::MachineName(header->machine).empty()) std::abort();
  return 0;
}
