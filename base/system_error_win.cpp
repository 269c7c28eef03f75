#include "base/system_error_win.h"

#include <windows.h>

#include <array>
#include <cstdio>

#include "base/system_error.h"

namespace Pellux {

unsigned long LastSystemError() {
  return GetLastError();
}

std::string SystemErrorTextFrom(const char* moduleName, unsigned long code) {
  std::array<char, 512> text{};
  const HMODULE module = moduleName != nullptr ? GetModuleHandleA(moduleName) : nullptr;
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                      (module != nullptr ? FORMAT_MESSAGE_FROM_HMODULE : 0);
  const DWORD length =
      FormatMessageA(flags, module, code, 0, text.data(), static_cast<DWORD>(text.size()), nullptr);
  std::string result(text.data(), length);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  return result.empty() ? "no text for this code" : result;
}

std::string SystemErrorText(unsigned long code) {
  return SystemErrorTextFrom(nullptr, code);
}

std::string DescribeSystemError(unsigned long code) {
  std::array<char, 16> hex{};
  std::snprintf(hex.data(), hex.size(), "0x%08lx", code);
  return "error " + std::to_string(code) + " (" + SystemErrorText(code) + ") [" + hex.data() + "]";
}

}  // namespace Pellux
