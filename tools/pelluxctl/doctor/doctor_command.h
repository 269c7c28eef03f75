#pragma once

#include "tools/pelluxctl/pelluxctl_options.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

// `pelluxctl doctor`: runs the checks of this system with its own probes, prints them to
// io.out (as JSON with options.json) and returns kPelluxctlOk when none failed, else
// kPelluxctlFailed. Where the checks are not written yet (Windows) it says so on io.err and
// returns kPelluxctlUsage. pelluxctl's one thread.
int RunDoctorCommand(const PelluxctlOptions& options, UiConnection& connection,
                     const PelluxctlIo& io);

}  // namespace Pellux
