#include "device/library_path_win.h"

#include <vector>

namespace Pellux {
namespace {

bool IsAbsolute(const std::wstring& path) {
  // "C:\..." or "\\server\share\..."; a bare or relative name would start the search.
  const bool drive = path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
  const bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
  return drive || unc;
}

std::wstring WithSeparator(std::wstring folder) {
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
  return folder;
}

}  // namespace

std::wstring ModulePath(HMODULE module) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return {buffer.data(), length};
    // Cut short: try again with room to spare (long paths reach 32767 characters).
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ProgramFolder() {
  const std::wstring program = ModulePath(nullptr);
  const std::size_t slash = program.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return program.substr(0, slash + 1);
}

std::wstring SystemFolder() {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return WithSeparator(std::wstring(buffer.data(), length));
}

HMODULE LoadLibraryByFullPath(const std::wstring& path) {
  if (!IsAbsolute(path)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A Windows 7 without the search-path update knows no LOAD_LIBRARY_SEARCH_* flags; the
    // altered search path still looks for dependencies in the library's folder first.
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

}  // namespace Pellux
