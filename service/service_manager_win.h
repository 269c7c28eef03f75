#pragma once

#include <functional>
#include <string>

#include "base/clock.h"

namespace Pellux {

// The service manager's side of the switches, shared by the service program (/S, /P) and the
// rebooter, which stops and starts the service the same way. `problem` receives one line per
// failed system call (the call, the code and the system's text). Any thread.
using ProblemLine = std::function<void(const std::string& line)>;

// Opens the service manager and the service `name`, starts it, and waits while it is
// start-pending. True once the start request was accepted and the first status query worked,
// whatever state the wait ends in.
bool StartInstalledService(const std::string& name, Clock& clock, const ProblemLine& problem);

// Opens the service manager and the service, and stops it: waits out a pending stop, sends the
// stop control and waits for stopped, within 30 seconds of the start. False only when the
// manager or the service could not be opened.
bool StopInstalledService(const std::string& name, Clock& clock, const ProblemLine& problem);

}  // namespace Pellux
