#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Pellux {

// One running process. Its texts come from the process itself: data only.
struct ProcessFacts {
  std::int64_t pid = 0;
  // The program's short name (15 bytes at most on Linux).
  std::string name;
  // Its command line, the arguments separated by blanks.
  std::string command;
};

struct ProcessListing {
  // False when the processes could not be listed at all; `error` says why.
  bool listed = false;
  std::string error;
  std::vector<ProcessFacts> processes;
  // Processes that could not be looked into (another user's, without root's rights), and the
  // first refusal: the call, the code and the system's text.
  int hidden = 0;
  std::string hiddenError;
};

// Looks at the running processes: /proc on Linux. Called by `pelluxctl doctor` on its one
// thread; processes may come and go while it looks, which is no failure.
class ProcessProbe {
 public:
  ProcessProbe() = default;
  ProcessProbe(const ProcessProbe&) = delete;
  ProcessProbe& operator=(const ProcessProbe&) = delete;
  virtual ~ProcessProbe() = default;

  // The processes that hold the character device of the node `node` open, through any node of
  // that device (a pseudo-terminal: through that one, as another devpts has the same numbers).
  virtual ProcessListing Holders(const std::string& node) = 0;
  // The processes whose short name is `name`.
  virtual ProcessListing Named(const std::string& name) = 0;

  static std::unique_ptr<ProcessProbe> CreateForPlatform();
};

}  // namespace Pellux
