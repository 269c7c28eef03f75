#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "service/service_win.h"

namespace Pellux {

// The service program's command line: a switch is handled (install, start, stop, uninstall,
// version, usage; failure messages on `err`) and 0 returned; anything else runs `service`
// under the service manager's dispatcher and returns the exit code of its status record.
// Main thread.
int RunServiceProgram(Service& service, const std::vector<std::string>& arguments,
                      std::ostream& out, std::ostream& err);

}  // namespace Pellux
