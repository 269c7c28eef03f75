#pragma once

#include <windows.h>

#include <string>

namespace Pellux {

// The steps of the service program's start before the service exists.

// Refines a stored "Language" of "en_US" (or none) under HKLM\Software\Pellux\Tracker by the
// user's nation and writes the refined value back; any other stored value is left alone.
// Problems go to `problem` (the program's error stream).
void ApplyDefaultLanguage(void (*problem)(const std::string& line));

// Makes every library loaded by name from now on come from the system folder only (not the
// program's folder, the current one or PATH): the system libraries the program does not import
// statically (cmake/DelayImports.cmake) are loaded so at their first use. First thing in main.
// A failure is told to `problem` with the system's reason.
void RestrictLibrarySearch(void (*problem)(const std::string& line));

// Maps "UplinkerResources.dll" from the program's own folder only (never searched for, so no
// copy elsewhere on the search path is taken) as an image resource: its code never runs, and
// only the string table (given this handle) reads from it. Null when it is not there. A module
// that is there but cannot be mapped is told to `problem` with the system's reason. The caller
// frees the handle with FreeLibrary once nothing reads from it.
HMODULE LoadResourceModule(void (*problem)(const std::string& line));

}  // namespace Pellux
