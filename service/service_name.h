#pragma once

namespace Pellux {

// The Windows service's name under the service manager: the service program installs itself
// under it, and the rebooter stops and starts the service by it.
inline constexpr const char* kPelluxServiceName = "Pellux";

}  // namespace Pellux
