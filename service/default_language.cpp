#include "service/default_language.h"

namespace Pellux {

std::optional<std::string> RefinedLanguage(const std::optional<std::string>& stored, int nation) {
  if (stored.value_or("en_US") != "en_US") return std::nullopt;
  switch (nation) {
    case 12:
      return "en_AU";
    case 183:
      return "en_NZ";
    case 242:
      return "en_GB";
    default:
      return std::nullopt;
  }
}

}  // namespace Pellux
