// The "Pellux" service as the real program builds it (registry settings, the whole uploader,
// the service pipe, the real switches), with one difference: its base station is a virtual one
// on a virtual bus inside the process instead of the bridge library's. For the whole-service
// tests under Wine's service manager.

#include <string>
#include <vector>

#include "base/clock.h"
#include "service/pellux_program_win.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"

int main(int argc, char** argv) {
  Pellux::VirtualBaseStation station(Pellux::SystemClock::Instance());
  Pellux::VirtualDeviceBus bus;
  bus.Attach(station, 0x10C4, 0x84C4);
  return Pellux::RunPelluxProgram(bus, std::vector<std::string>(argv, argv + argc));
}
