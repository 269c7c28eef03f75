#pragma once

#include <windows.h>

#include <string>

namespace Pellux {

// Where the program loads libraries from: never by bare
// file name, which lets the loader search the current directory and PATH, where anyone may
// plant a library of the same name for a service running as LocalSystem to load.

// The folder of the running program, ending in a backslash; empty when it cannot be found.
std::wstring ProgramFolder();
// The system folder (GetSystemDirectoryW), ending in a backslash; empty when it cannot be
// found.
std::wstring SystemFolder();

// Loads the library at the full path `path`; its own dependencies come only from its folder
// and the system folder. Null (with the system's last error) when it cannot be loaded, and
// always for a path that is not absolute.
HMODULE LoadLibraryByFullPath(const std::wstring& path);

// The full path of a loaded module; empty when unknown.
std::wstring ModulePath(HMODULE module);

// Binds `name` of `module` into `function`; false when the module has no such export.
template <typename Function>
bool BindExport(HMODULE module, const char* name, Function& function) {
  const FARPROC address = GetProcAddress(module, name);
  // A FARPROC is a function pointer of an unknown signature: the one way to give it its own.
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(address));
  return address != nullptr;
}

}  // namespace Pellux
