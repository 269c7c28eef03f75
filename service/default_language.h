#pragma once

#include <optional>
#include <string>

namespace Pellux {

// The locale the service stores as "Language" at start: a stored "en_US" (or none, or one that
// is not text) is refined by the user's nation (12 "en_AU", 183 "en_NZ", 242 "en_GB"); the
// value to write back, or nullopt when nothing is to be written. Any other stored value is the
// user's own and is never changed.
std::optional<std::string> RefinedLanguage(const std::optional<std::string>& stored, int nation);

}  // namespace Pellux
