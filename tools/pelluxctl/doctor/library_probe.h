#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/portable_executable.h"

namespace Pellux {

// One library file as the service would load it.
struct LibraryFacts {
  enum class State { kPresent, kMissing, kFailed };
  State state = State::kFailed;
  // For kMissing and kFailed: the call, the code and the system's text.
  std::string error;
  // What its first bytes say; nothing when they are no Windows program image.
  std::optional<PortableExecutableHeader> image;
  // It was loaded as the service loads it (by full path, its dependencies from its folder and
  // the system's) and let go again; tried only for a library of the program's machine.
  bool loaded = false;
  std::string loadError;
};

// Looks at the bridge libraries beside the service's program: the file system and the loader
// of Windows. Called by `pelluxctl doctor` on its one thread.
class LibraryProbe {
 public:
  LibraryProbe() = default;
  LibraryProbe(const LibraryProbe&) = delete;
  LibraryProbe& operator=(const LibraryProbe&) = delete;
  virtual ~LibraryProbe() = default;

  // The file `file` in the folder `folder` (which ends in a separator). Never throws.
  virtual LibraryFacts Inspect(const std::string& folder, const std::string& file) = 0;
  // The machine pelluxctl is built for: the service's, as the two ship in one folder.
  virtual std::uint16_t ProgramMachine() = 0;

  static std::unique_ptr<LibraryProbe> CreateForPlatform();
};

}  // namespace Pellux
