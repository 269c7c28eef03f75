#pragma once

#include <string>

namespace Pellux {

// Asks the desktop to show `url` in the user's browser: xdg-open on Linux, the shell's "open"
// on Windows. Returns at once; false, with the failed call in `error`, when it could not even
// be asked.
bool OpenInBrowser(const std::string& url, std::string& error);

}  // namespace Pellux
