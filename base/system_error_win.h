#pragma once

#include <string>

namespace Pellux {

// The text of `code` from the message table of a loaded module (WinInet keeps its own codes,
// 12000 and up, in wininet.dll), else from the system's table. Windows only.
std::string SystemErrorTextFrom(const char* moduleName, unsigned long code);

}  // namespace Pellux
