#include "ui/channel/ui_message.h"

#include <charconv>
#include <limits>
#include <vector>

namespace Pellux {
namespace {

// Splits `text` into its words, at most `most` of them; the words past those are not read.
std::vector<std::string_view> Words(std::string_view text, std::size_t most) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (words.size() < most) {
    while (at < text.size() && IsUiSpace(text[at])) ++at;
    if (at == text.size()) break;
    const std::size_t start = at;
    while (at < text.size() && !IsUiSpace(text[at])) ++at;
    words.push_back(text.substr(start, at - start));
  }
  return words;
}

// A whole word of decimal digits with an optional sign, within [low, high].
std::optional<std::int64_t> ReadInteger(std::string_view word, std::int64_t low,
                                        std::int64_t high) {
  if (!word.empty() && word.front() == '+') word.remove_prefix(1);
  std::int64_t value = 0;
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  if (error != std::errc() || stop != end || word.empty()) return std::nullopt;
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<std::int32_t> ReadInt32(std::string_view word) {
  const auto value = ReadInteger(word, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::int32_t>::max());
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

// Flags are 32-bit patterns: written signed (-1) or unsigned (4294967295) alike.
std::optional<std::uint32_t> ReadFlags(std::string_view word) {
  const auto value = ReadInteger(word, std::numeric_limits<std::int32_t>::min(),
                                 std::numeric_limits<std::uint32_t>::max());
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsUiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsUiSpace(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

bool IsUiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::optional<UiMessage> SplitUiMessage(std::string_view text) {
  if (text.size() > kMaxUiMessageBytes) return std::nullopt;
  std::size_t at = 0;
  while (at < text.size() && IsUiSpace(text[at])) ++at;
  if (at == text.size()) return std::nullopt;
  UiMessage message;
  message.code = text[at++];
  while (at < text.size() && IsUiSpace(text[at])) ++at;
  const std::size_t nameStart = at;
  while (at < text.size() && !IsUiSpace(text[at])) ++at;
  message.replyName.assign(text.substr(nameStart, at - nameStart));
  // The one white space character that ends the name belongs to neither name nor rest.
  if (at < text.size()) ++at;
  message.rest.assign(text.substr(at));
  return message;
}

std::string JoinUiMessage(char code, std::string_view replyName, std::string_view rest) {
  std::string text(1, code);
  text += replyName;
  if (!rest.empty()) {
    text += ' ';
    text += rest;
  }
  return text;
}

std::optional<LoggingRequest> DecodeLogging(std::string_view rest) {
  const auto words = Words(rest, 2);
  if (words.size() < 2) return std::nullopt;
  const auto enabled = ReadInt32(words[0]);
  const auto days = ReadInt32(words[1]);
  if (!enabled || !days) return std::nullopt;
  return LoggingRequest{*enabled, *days};
}

std::string EncodeLogging(const LoggingRequest& request) {
  return std::to_string(request.enabled) + ' ' + std::to_string(request.days);
}

std::optional<std::string> DecodeProxyWord(std::string_view word) {
  if (word == ".") return std::string();
  std::string text;
  text.reserve(word.size());
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] != '%') {
      text += word[i];
      continue;
    }
    if (word.size() - i < 3) return std::nullopt;
    const int high = HexValue(word[i + 1]);
    const int low = HexValue(word[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    text += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return text;
}

std::string EncodeProxyWord(std::string_view text) {
  if (text.empty()) return ".";
  if (text == ".") return "%2E";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string word;
  word.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || IsUiSpace(c) || byte < 0x20 || byte >= 0x7F) {
      word += '%';
      word += kHex[byte >> 4];
      word += kHex[byte & 0x0F];
    } else {
      word += c;
    }
  }
  return word;
}

std::optional<ProxySettings> DecodeProxy(std::string_view rest, std::string* why) {
  const auto fail = [why](const char* reason) -> std::optional<ProxySettings> {
    if (why != nullptr) *why = reason;
    return std::nullopt;
  };
  const auto words = Words(rest, 7);
  if (words.size() < 7) return fail("fewer than seven fields");
  ProxySettings settings;
  const auto selection = ReadInt32(words[0]);
  if (!selection) return fail("the selection is not an integer");
  settings.selection = *selection;
  const auto discovery = ReadFlags(words[2]);
  if (!discovery) return fail("the auto-discovery flags are not an integer");
  settings.autoDiscoveryFlags = *discovery;
  const auto flags = ReadFlags(words[3]);
  if (!flags) return fail("the flags are not an integer");
  settings.flags = *flags;
  struct TextField {
    std::string_view word;
    std::string* target;
  };
  const TextField texts[] = {{words[1], &settings.autoConfigUrl},
                             {words[4], &settings.bypass},
                             {words[5], &settings.server},
                             {words[6], &settings.serverOverride}};
  for (const TextField& field : texts) {
    auto text = DecodeProxyWord(field.word);
    if (!text) return fail("a '%' without two hexadecimal digits after it");
    *field.target = std::move(*text);
  }
  return settings;
}

std::string EncodeProxy(const ProxySettings& settings) {
  std::string rest = std::to_string(settings.selection);
  for (const std::string& part :
       {EncodeProxyWord(settings.autoConfigUrl), std::to_string(settings.autoDiscoveryFlags),
        std::to_string(settings.flags), EncodeProxyWord(settings.bypass),
        EncodeProxyWord(settings.server), EncodeProxyWord(settings.serverOverride)}) {
    rest += ' ';
    rest += part;
  }
  return rest;
}

std::optional<std::string> DecodeSessionMode(std::string_view rest) {
  const std::string_view mode = Trim(rest);
  if (mode.empty()) return std::nullopt;
  return std::string(mode);
}

std::string DecodeUrl(std::string_view rest) {
  return std::string(Trim(rest));
}

std::string EncodeHtml(const HtmlPage& page) {
  return std::string(1, UiCode::kHtml) + std::to_string(page.width) + ' ' +
         std::to_string(page.height) + ' ' + page.html;
}

std::optional<HtmlPage> DecodeHtml(std::string_view text) {
  const std::size_t firstBlank = text.find(' ');
  if (firstBlank == std::string_view::npos) return std::nullopt;
  const std::size_t secondBlank = text.find(' ', firstBlank + 1);
  if (secondBlank == std::string_view::npos) return std::nullopt;
  const auto width = ReadInt32(text.substr(0, firstBlank));
  const auto height = ReadInt32(text.substr(firstBlank + 1, secondBlank - firstBlank - 1));
  if (!width || !height) return std::nullopt;
  return HtmlPage{*width, *height, std::string(text.substr(secondBlank + 1))};
}

std::string EncodeStatusText(const StatusReply& status) {
  return std::string(status.baseStationOpen ? "1" : "0") + ' ' +
         std::to_string(status.lastSleepTime);
}

std::optional<StatusReply> DecodeStatusText(std::string_view text) {
  const auto words = Words(text, 3);
  if (words.size() != 2) return std::nullopt;
  const auto open = ReadInteger(words[0], 0, 1);
  const auto sleep = ReadInteger(words[1], 0, std::numeric_limits<std::int64_t>::max());
  if (!open || !sleep) return std::nullopt;
  return StatusReply{*open == 1, *sleep};
}

std::string EncodeInfo(std::string_view line) {
  return std::string(1, UiCode::kInfo) + std::string(line);
}

}  // namespace Pellux
