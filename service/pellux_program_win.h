#pragma once

#include <string>
#include <vector>

#include "base/clock.h"
#include "link/base_station_devices.h"

namespace Pellux {

// The "Pellux" service program from its start to its exit code, in order: the default
// language, the resource module from the program's folder, the registry settings, the one
// PXService over `devices`, then the switch or the dispatcher. `arguments` are the whole
// command line; `clock` times the service (the system's clock, but for the tests' host).
// Main thread.
int RunPelluxProgram(BaseStationDevices& devices, const std::vector<std::string>& arguments,
                     Clock& clock = SystemClock::Instance());

}  // namespace Pellux
