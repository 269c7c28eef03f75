// Every message a UI writes is outside text: whatever it holds, the codec must stop cleanly,
// refuse what it cannot read, and read back exactly what it writes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ui/channel/ui_message.h"

namespace {

template <typename Value, typename Decode, typename Encode>
void ExpectRoundTrip(const std::optional<Value>& decoded, Decode decode, Encode encode) {
  if (!decoded) return;
  if (decode(encode(*decoded)) != decoded) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace Pellux;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto message = SplitUiMessage(text);
  if (size > kMaxUiMessageBytes && message) std::abort();
  if (!message) return 0;
  if (IsUiSpace(message->code)) std::abort();
  if (!message->replyName.empty()) {
    if (SplitUiMessage(JoinUiMessage(message->code, message->replyName, message->rest)) !=
        message) {
      std::abort();
    }
  }
  const std::string& rest = message->rest;

  ExpectRoundTrip(DecodeLogging(rest), DecodeLogging, EncodeLogging);
  ExpectRoundTrip(
      DecodeProxy(rest), [](const std::string& t) { return DecodeProxy(t); }, EncodeProxy);
  ExpectRoundTrip(
      DecodeHtml(rest), [](const std::string& t) { return DecodeHtml(t.substr(1)); }, EncodeHtml);
  ExpectRoundTrip(DecodeStatusText(rest), DecodeStatusText, EncodeStatusText);
  if (const auto word = DecodeProxyWord(rest)) {
    if (DecodeProxyWord(EncodeProxyWord(*word)) != word) std::abort();
  }
  if (const auto mode = DecodeSessionMode(rest)) {
    if (mode->empty() || IsUiSpace(mode->front()) || IsUiSpace(mode->back())) std::abort();
  }
  (void)DecodeUrl(rest);
  return 0;
}
