// The lenient base64 decoder reads text from the server: whatever it is given, it must stop
// cleanly, and what it decodes must encode back to the part of the text it used.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "server/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto decoded = Pellux::Base64Decode(text);
  if (decoded.size() > size / 4 * 3 + 2) std::abort();

  // Re-encoding round-trips, and every whole group that was read encodes back to its text.
  if (Pellux::Base64Decode(Pellux::Base64Encode(decoded)) != decoded) std::abort();
  const std::size_t wholeBytes = decoded.size() / 3 * 3;
  const std::vector<std::uint8_t> whole(decoded.begin(),
                                        decoded.begin() + static_cast<std::ptrdiff_t>(wholeBytes));
  if (Pellux::Base64Encode(whole) != text.substr(0, wholeBytes / 3 * 4)) std::abort();
  return 0;
}
