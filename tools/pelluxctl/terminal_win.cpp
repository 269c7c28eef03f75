#include <windows.h>

#include "tools/pelluxctl/terminal.h"

namespace Pellux {

bool StandardOutputIsTerminal() {
  // A console answers GetConsoleMode; a pipe or a file does not. Redrawing also needs the
  // console to take the escape that clears the rest of the line.
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == INVALID_HANDLE_VALUE || output == nullptr || !GetConsoleMode(output, &mode)) {
    return false;
  }
  return SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace Pellux
