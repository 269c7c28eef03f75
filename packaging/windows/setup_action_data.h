#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/portable_executable.h"
#include "device/bridge_library_files.h"

namespace Pellux {

// What the Windows installer's own actions (setup_actions_win.cpp) decide without the system:
// the text the package hands a deferred action, the folders it names, the command lines it
// runs and the libraries it accepts. Every value here came from outside the program: from the
// package's properties, which whoever runs msiexec may set on its command line (VENDORDIR), or
// from a file in a folder someone else filled.

// The two values of CopyVendorLibraries' CustomActionData, which the package writes as
// "[VENDORDIR]|[ProgramFolder]", split at the last '|': the program folder is the package's own
// and holds none, VENDORDIR is whatever was given (a '|' in it is refused as a folder name).
struct VendorCopyData {
  std::string vendorFolder;
  std::string programFolder;
};
std::optional<VendorCopyData> SplitVendorCopyData(std::string_view data);

// A folder named from outside, made fit for joining a file name to it: an absolute path
// ("C:\..." or "\\server\share\..."), with a backslash at its end. Refused, with the reason in
// `why`: an empty or relative path, one with a character no Windows path may hold
// (< > " | ? * or a control character), a ':' other than the drive's, a "." or ".." step, a
// device or raw path ("\\.\", "\\?\"), or a path longer than a folder may be.
std::optional<std::string> CheckedFolder(std::string_view folder, std::string& why);

// The program the service runs, in the program folder `folder` (ending with a backslash).
std::string ServiceProgramPath(const std::string& folder);
// The service manager's command line of the service: the program's path in quotes, as its own
// /I registers it (without them, "C:\Program Files (x86)\..." would start "C:\Program.exe").
std::string ServiceImagePath(const std::string& folder);
// The command line that runs the program with one of its switches ("/I", "/U").
std::string ServiceSwitchCommand(const std::string& folder, std::string_view which);
// Whether the service manager's command line `registered` is the one of the program in
// `folder`: the same text, letters compared without regard to case, as Windows compares paths.
bool IsServiceImagePath(std::string_view registered, const std::string& folder);

}  // namespace Pellux
