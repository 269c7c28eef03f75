#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/virtual_tracker.h"

namespace Pellux {

// The upload the demo plays: the server's documents, in the order the engine asks for them,
// with "{host}" and "{port}" standing for where the server is reached; and how the virtual
// tracker answers the commands in them.
struct DemoScenario {
  std::vector<std::string> documents;
  // Command header prefix and the tracker's answer to it.
  std::vector<std::pair<std::vector<std::uint8_t>, TrackerAnswer>> answers;
  // The same answers as pellux-sim's arguments.
  std::vector<std::string> simArguments;

  // Links, downloads 2 KB of activity, uploads 1000 bytes of settings, shows a message, closes
  // and puts the tracker to sleep.
  static DemoScenario Default();
  // The documents with the placeholders filled in.
  [[nodiscard]] std::vector<std::string> DocumentsFor(const std::string& host,
                                                      std::uint16_t port) const;
};

}  // namespace Pellux
