#include <windows.h>
// shellapi.h needs the types of windows.h first.
#include <shellapi.h>

#include "base/system_error.h"
#include "base/wide_text_win.h"
#include "tools/pelluxctl/browser/browser_opener.h"

namespace Pellux {

BrowserOpener::~BrowserOpener() = default;

bool BrowserOpener::Open(const std::string& url, std::string& error) {
  const std::wstring wide = WideFromUtf8(url);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  // ShellExecute's result above 32 is success; below, an old error code, with the real one
  // in GetLastError.
  if (result <= 32) {
    error = SystemCallFailure("ShellExecuteW", url, LastSystemError());
    return false;
  }
  return true;
}

}  // namespace Pellux
