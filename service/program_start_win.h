#pragma once

#include <windows.h>

#include <string>

namespace Pellux {

// The steps of the service program's start before the service exists.

// Refines a stored "Language" of "en_US" (or none) under HKLM\Software\Pellux\Tracker by the
// user's nation and writes the refined value back; any other stored value is left alone.
// Problems go to `problem` (the program's error stream).
void ApplyDefaultLanguage(void (*problem)(const std::string& line));

// Loads "UplinkerResources.dll" from the program's own folder only (never searched for, so no
// copy elsewhere on the search path is taken); null when it is not there. A module that is there
// but cannot be loaded is told to `problem` with the system's reason.
HMODULE LoadResourceModule(void (*problem)(const std::string& line));

}  // namespace Pellux
