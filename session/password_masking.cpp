#include "session/password_masking.h"

#include <string_view>

namespace Pellux {

std::string MaskPasswords(std::string text) {
  constexpr std::string_view kWord = "password";
  constexpr std::string_view kMask = "<hiddenpassword>";
  std::size_t position = 0;
  for (;;) {
    const std::size_t found = text.find(kWord, position);
    if (found == std::string::npos) break;
    const std::size_t ampersand = text.find('&', found + 1);
    if (ampersand == std::string::npos) {
      text.erase(found);
      text += kMask;
      break;
    }
    // The field name goes with its value: "password=x" and "newpassword=x" alike.
    text.replace(found, ampersand - found, kMask);
    position = found + kMask.size();
  }
  return text;
}

}  // namespace Pellux
