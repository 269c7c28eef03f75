#include <unistd.h>

#include "tools/pelluxctl/terminal.h"

namespace Pellux {

bool StandardOutputIsTerminal() {
  return isatty(STDOUT_FILENO) == 1;
}

}  // namespace Pellux
