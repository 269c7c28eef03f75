#pragma once

#include <string>
#include <string_view>

namespace Pellux {

// Escapes a name or value for an application/x-www-form-urlencoded body: ASCII letters, digits
// and ~ ! * ( ) ' stay; every other byte becomes "%" and two lower-case hex digits.
std::string FormEscape(std::string_view text);

// Appends FormEscape(text) to `out`, without a temporary.
void AppendFormEscaped(std::string& out, std::string_view text);

}  // namespace Pellux
