#pragma once

namespace Pellux {

// The address users are asked to write to when something failed, as the deployment sets it:
// the CMake cache variable PELLUX_SUPPORT_ADDRESS (ui/CMakeLists.txt), compiled into
// support_address.cpp and, on Windows, into the string table (message_strings.rc.in).
const char* SupportAddress();

}  // namespace Pellux
