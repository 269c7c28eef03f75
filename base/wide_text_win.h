#pragma once

#include <string>
#include <string_view>

namespace Pellux {

// UTF-8 and the UTF-16 of the system's wide calls, both ways. Windows only; any thread.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace Pellux
