#pragma once

#include <optional>
#include <string>

namespace Pellux {

// The name of the device with instance id `instanceId` among the devices of `enumerator`
// (present ones only for an arrival), through SetupAPI: its friendly name, else its
// description, else "(unknown)"; nullopt when no device has that id. The ids compare exactly.
std::optional<std::string> SetupApiDeviceName(const std::string& enumerator,
                                              const std::string& instanceId, bool arrival);

}  // namespace Pellux
