#pragma once

namespace Pellux {

// The address users are asked to write to when something failed, as the deployment sets it:
// the CMake cache variable PELLUX_SUPPORT_ADDRESS (ui/CMakeLists.txt), compiled into
// support_address.cpp and nowhere else.
const char* SupportAddress();

}  // namespace Pellux
