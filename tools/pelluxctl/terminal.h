#pragma once

namespace Pellux {

// Whether the program's standard output is a terminal (a console on Windows), on which a
// progress line may be redrawn in place.
bool StandardOutputIsTerminal();

}  // namespace Pellux
