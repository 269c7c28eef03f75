// pelluxctl's browser page takes text from outside at both ends: the server's HTML, whose form
// tags it rewrites for the frame, and the browser's form posts, which it decodes and encodes
// again for the service. Neither may crash; a rewritten page must have nothing left to rewrite;
// a decoded form must encode to text that decodes to the same fields.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/pelluxctl/browser/form_fields.h"
#include "tools/pelluxctl/browser/frame_document.h"

namespace {

constexpr std::string_view kAction = "http://127.0.0.1:1/t/page/1/form";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  // A rewritten page has nothing left to rewrite: every form in it posts to pelluxctl.
  const std::string frame = Pellux::FrameDocument(text, kAction);
  if (Pellux::FrameDocument(frame, kAction) != frame) std::abort();

  std::string why;
  const auto fields = Pellux::DecodeBrowserForm(text, &why);
  if (!fields) {
    if (why.empty()) std::abort();
    return 0;
  }
  const std::string encoded = Pellux::EncodeFormFields(*fields);
  if (Pellux::DecodeBrowserForm(encoded) != fields) std::abort();
  return 0;
}
