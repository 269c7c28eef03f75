#pragma once

#include <string_view>

namespace Pellux {

// What '?' means in a wildcard pattern: one character of any kind, or only itself.
enum class WildcardQuestion { kAnyOne, kItself };

// Whether `text` matches `pattern` ignoring ASCII case: '*' stands for any run of characters
// (the empty one included), '?' as `question` says, everything else for itself. Any thread.
bool MatchesWildcard(std::string_view pattern, std::string_view text,
                     WildcardQuestion question = WildcardQuestion::kAnyOne);

}  // namespace Pellux
