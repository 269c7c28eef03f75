#include "server/form_escape.h"

#include <array>

namespace Pellux {
namespace {

constexpr std::array<bool, 256> MakeKeptTable() {
  std::array<bool, 256> kept{};
  for (int c = 'A'; c <= 'Z'; ++c) kept[static_cast<std::size_t>(c)] = true;
  for (int c = 'a'; c <= 'z'; ++c) kept[static_cast<std::size_t>(c)] = true;
  for (int c = '0'; c <= '9'; ++c) kept[static_cast<std::size_t>(c)] = true;
  for (char c : {'~', '!', '*', '(', ')', '\''}) kept[static_cast<unsigned char>(c)] = true;
  return kept;
}

constexpr std::array<bool, 256> kKept = MakeKeptTable();
constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

void AppendFormEscaped(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (kKept[byte]) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHexDigits[byte >> 4]);
      out.push_back(kHexDigits[byte & 0x0F]);
    }
  }
}

std::string FormEscape(std::string_view text) {
  std::string escaped;
  AppendFormEscaped(escaped, text);
  return escaped;
}

}  // namespace Pellux
