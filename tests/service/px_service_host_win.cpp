// The "Pellux" service as the real program builds it (registry settings, the whole uploader,
// the service pipe, the real switches), with one difference: its base station is a virtual one
// on a virtual bus inside the process instead of the bridge library's. For the whole-service
// tests under Wine's service manager.

#include <iostream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "service/program_start_win.h"
#include "service/px_service_win.h"
#include "service/service_program_win.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "ui/registry_settings_store_win.h"

int main(int argc, char** argv) {
  using namespace Pellux;
  const auto problem = [](const std::string& line) { std::cerr << line << "\n"; };
  ApplyDefaultLanguage(+[](const std::string& line) { std::cerr << line << "\n"; });
  LoadResourceModule();
  RegistrySettingsStore settings(problem);
  VirtualBaseStation station(SystemClock::Instance());
  VirtualDeviceBus bus;
  bus.Attach(station, 0x10C4, 0x84C4);
  PXService service({.settings = settings,
                     .devices = bus,
                     .clock = SystemClock::Instance(),
                     .programFolder = "",
                     .pipeName = NamedPipeServer::kServiceName});
  return RunServiceProgram(service, std::vector<std::string>(argv, argv + argc), std::cout,
                           std::cerr);
}
