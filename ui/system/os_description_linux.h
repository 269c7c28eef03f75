#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/system/linux_system_info.h"
#include "ui/system/problem_reporter.h"

namespace Pellux {

// Where the distribution describes itself, in the order to try them.
inline const std::vector<std::string> kOsReleasePaths{"/etc/os-release", "/usr/lib/os-release"};

// The start (at most OsRelease::kMaxTextBytes) of the first of `paths` that opens as a regular
// file; nullopt when none does. A file that exists but cannot be read is reported.
std::optional<std::string> ReadOsReleaseText(const std::vector<std::string>& paths,
                                             const ProblemReporter& report);

// The running kernel's release and machine; empty (and reported) when uname fails.
KernelIdentity ReadKernelIdentity(const ProblemReporter& report);

}  // namespace Pellux
