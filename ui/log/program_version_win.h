#pragma once

#include <string>

#include "ui/log/program_version.h"

namespace Pellux {

// The file version in the version resource of the program or library at `path`. Windows only.
ProgramVersion ReadFileVersion(const std::string& path);

}  // namespace Pellux
