#pragma once

#include <string>

#include "ui/system/problem_reporter.h"

namespace Pellux {

// One line that names this operating system for the upload server, in six fields separated by
// single blanks: "<name> <major>.<minor>.<build> <details> <32-bit|64-bit> <platform>". On
// Windows it is SystemInfo's description; on Linux the distribution and the kernel (see
// LinuxSystemInfo). Never fails: what cannot be read is described as unknown and reported.
std::string GetOsDescription(const ProblemReporter& report);

}  // namespace Pellux
