#pragma once

#include <string>

namespace Pellux {

// The program's own version as "%d.%d.%d" (major, minor, build; the fourth part left out), as
// the activity log's banner and the user interface show it.
struct ProgramVersion {
  // Empty when the version cannot be read.
  std::string text;
  // Why it could not be read (the failing call with the system's code and text), else empty.
  std::string failure;

  // Of the running program: the version resource of its file on Windows, the build's numbers
  // (the project version in CMake) on Linux. Any thread.
  static ProgramVersion OfThisProgram();
};

}  // namespace Pellux
