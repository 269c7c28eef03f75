#include "service/program_start_win.h"

#include <optional>
#include <string_view>
#include <vector>

#include "base/system_error.h"
#include "service/default_language.h"

namespace Pellux {

void ApplyDefaultLanguage(void (*problem)(const std::string& line)) {
  constexpr const char* kKey = "Software\\Pellux\\Tracker";
  HKEY key = nullptr;
  const LONG opened = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr);
  if (opened != ERROR_SUCCESS) {
    problem(SystemCallFailure("RegCreateKeyExA", kKey, static_cast<DWORD>(opened)));
    return;
  }
  std::optional<std::string> stored;
  char text[256] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, "Language", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    stored = std::string(text);
  }
  if (const auto refined =
          RefinedLanguage(stored, static_cast<int>(GetUserGeoID(GEOCLASS_NATION)))) {
    const LONG written =
        RegSetValueExA(key, "Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(refined->c_str()),
                       static_cast<DWORD>(refined->size() + 1));
    if (written != ERROR_SUCCESS) {
      problem(SystemCallFailure("RegSetValueExA", "Language", static_cast<DWORD>(written)));
    }
  }
  RegCloseKey(key);
}

void RestrictLibrarySearch(void (*problem)(const std::string& line)) {
  if (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) == 0) {
    problem(SystemCallFailure("SetDefaultDllDirectories", "LOAD_LIBRARY_SEARCH_SYSTEM32",
                              GetLastError()));
  }
}

HMODULE LoadResourceModule(void (*problem)(const std::string& line)) {
  constexpr std::string_view kModule = "UplinkerResources.dll";
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    problem(SystemCallFailure("GetModuleFileNameW", kModule,
                              length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER));
    return nullptr;
  }
  std::wstring file(path.data(), length);
  file =
      file.substr(0, file.find_last_of(L"\\/") + 1) + std::wstring(kModule.begin(), kModule.end());
  if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) return nullptr;
  const HMODULE module = LoadLibraryExW(file.c_str(), nullptr,
                                        LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) problem(SystemCallFailure("LoadLibraryExW", kModule, GetLastError()));
  return module;
}

}  // namespace Pellux
