#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Pellux {

// The recovery program's command line, as the Windows service starts it: the rebooter build
// that matches the running Windows, by its full path in the service's own folder, then the
// base station's vendor and product id and the service's process id. Pure, so that it is
// tested anywhere.

// The command line is kept to this many characters, its terminating NUL included, as the
// service has always kept it.
inline constexpr std::size_t kRelaunchCommandLimit = 260;

// "64" where the native processor is 64-bit (architectures 6, 7 and 9 of the native system
// information), so that rebooter64.exe runs there and rebooter.exe elsewhere; else "".
std::string RebooterSuffix(std::uint16_t processorArchitecture);

// "\"<folder>\rebooter<suffix>.exe\" <vendor> <product> <process>": the ids in lower-case
// hexadecimal without leading zeros, the process id in decimal. The path is quoted so that a
// folder with blanks (Program Files) is one word, and full so that no other folder (the
// current one, PATH) is searched. Nothing when the folder is empty or holds a quote (no
// Windows path does), or when the line would not fit kRelaunchCommandLimit: a cut line would
// start the wrong program or pass wrong ids.
std::optional<std::string> RelaunchCommandLine(const std::string& programFolder,
                                               const std::string& suffix, std::uint16_t vendorId,
                                               std::uint16_t productId, std::uint32_t processId);

}  // namespace Pellux
