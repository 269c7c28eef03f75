#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "rebooter/rebooter_arguments.h"

namespace Pellux {

// The daemon starts the rebooter as an instance of the template unit pellux-rebooter@.service,
// the three words joined by '-': "pellux-rebooter@fcf-1004-1234.service" for vendor id 0xfcf,
// product id 0x1004 and process id 1234 (the ids in lower-case hexadecimal without leading
// zeros, the process id in decimal).
inline constexpr const char* kRebooterUnitPrefix = "pellux-rebooter@";
inline constexpr const char* kRebooterUnitSuffix = ".service";

std::string RebooterUnitName(std::uint16_t vendorId, std::uint16_t productId,
                             std::int32_t processId);

// The instance part of that name, as systemd hands it to the program (%i). Whoever may start the
// template chooses it, and the rebooter runs as root: only the exact form is taken, each id one to
// four hexadecimal digits in lower case without a leading zero, the process id one to ten decimal
// digits without a leading zero, at least 2 (never init) and at most 2147483647. Anything else
// gives nothing.
std::optional<RebooterArguments> ParseRebooterInstance(const std::string& instance);

}  // namespace Pellux
