// pelluxctl reads the service's status record: text from another process, which it must take
// apart without crashing, refuse when it is not a record, and read back exactly what it writes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ui/channel/status_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string why;
  const auto record = Pellux::DecodeStatusRecord(text, &why);
  if (!record) {
    if (why.empty()) std::abort();
    return 0;
  }
  // Texts that are not UTF-8 come back replaced, so a second round trip must be exact.
  const auto again = Pellux::DecodeStatusRecord(Pellux::EncodeStatusRecord(*record));
  if (!again) std::abort();
  if (Pellux::DecodeStatusRecord(Pellux::EncodeStatusRecord(*again)) != again) std::abort();
  return 0;
}
