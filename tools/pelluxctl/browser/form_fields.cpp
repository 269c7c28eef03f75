#include "tools/pelluxctl/browser/form_fields.h"

#include "server/form_escape.h"

namespace Pellux {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> Unescape(std::string_view text, std::string* why) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else {
      const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) {
        if (why != nullptr) *why = "a '%' without two hex digits at byte " + std::to_string(i);
        return std::nullopt;
      }
      out += static_cast<char>((high << 4) | low);
      i += 2;
    }
  }
  return out;
}

}  // namespace

std::optional<FormFields> DecodeBrowserForm(std::string_view body, std::string* why) {
  FormFields fields;
  while (!body.empty()) {
    const std::size_t end = body.find('&');
    const std::string_view pair = body.substr(0, end);
    body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    if (pair.empty()) continue;
    const std::size_t equals = pair.find('=');
    auto name = Unescape(pair.substr(0, equals), why);
    if (!name) return std::nullopt;
    std::optional<std::string> value = std::string();
    if (equals != std::string_view::npos) value = Unescape(pair.substr(equals + 1), why);
    if (!value) return std::nullopt;
    fields.emplace_back(std::move(*name), std::move(*value));
  }
  return fields;
}

std::string EncodeFormFields(const FormFields& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    AppendFormEscaped(out, name);
    out += '=';
    AppendFormEscaped(out, value);
  }
  return out;
}

}  // namespace Pellux
