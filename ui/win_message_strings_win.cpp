#include "ui/win_message_strings_win.h"

#include <vector>

namespace Pellux {

WinMessageStrings::WinMessageStrings(HMODULE module) : module_(module) {}

std::string WinMessageStrings::Text(int id) const {
  HMODULE module = module_;
  if (module == nullptr) module = GetModuleHandleA(kResourceModuleName);
  if (module == nullptr) module = GetModuleHandleA(nullptr);
  std::vector<wchar_t> wide(kMaxTextChars + 1);
  const int length =
      LoadStringW(module, static_cast<UINT>(id), wide.data(), static_cast<int>(wide.size()));
  if (length <= 0) return {};
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), bytes, nullptr, nullptr);
  return text;
}

}  // namespace Pellux
