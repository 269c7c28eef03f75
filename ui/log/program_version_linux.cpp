#include <string>

#include "ui/log/program_version.h"

namespace Pellux {

ProgramVersion ProgramVersion::OfThisProgram() {
  // The numbers come from the CMake project version, the same that Windows builds put into
  // their version resource.
  return {std::to_string(PELLUX_VERSION_MAJOR) + "." + std::to_string(PELLUX_VERSION_MINOR) + "." +
              std::to_string(PELLUX_VERSION_BUILD),
          ""};
}

}  // namespace Pellux
