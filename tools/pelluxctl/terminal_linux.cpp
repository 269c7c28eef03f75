#include "tools/pelluxctl/terminal.h"

#include <unistd.h>

namespace Pellux {

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

}  // namespace Pellux
