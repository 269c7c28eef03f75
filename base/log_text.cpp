#include "base/log_text.h"

#include <cstdio>

namespace Pellux {
namespace {

std::string Escaped(unsigned char c) {
  switch (c) {
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      break;
  }
  if (c < 0x20 || c == 0x7f) {
    char code[5];
    std::snprintf(code, sizeof code, "\\x%02x", c);
    return code;
  }
  return std::string(1, static_cast<char>(c));
}

}  // namespace

std::string LogSafeText(std::string_view text, std::size_t most) {
  std::string safe;
  safe.reserve(text.size() < most ? text.size() : most);
  std::size_t used = 0;
  for (; used < text.size(); ++used) {
    const std::string piece = Escaped(static_cast<unsigned char>(text[used]));
    if (safe.size() + piece.size() > most) break;
    safe += piece;
  }
  if (used < text.size()) {
    safe += "... (" + std::to_string(text.size() - used) + " more bytes)";
  }
  return safe;
}

}  // namespace Pellux
