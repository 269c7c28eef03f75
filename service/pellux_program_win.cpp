#include "service/pellux_program_win.h"

#include <iostream>

#include "base/clock.h"
#include "service/program_start_win.h"
#include "service/px_service_win.h"
#include "service/service_program_win.h"
#include "ui/settings/registry_settings_store_win.h"

namespace Pellux {
namespace {

void PrintProblem(const std::string& line) {
  std::cerr << line << "\n";
}

}  // namespace

int RunPelluxProgram(BaseStationDevices& devices, const std::vector<std::string>& arguments,
                     Clock& clock) {
  ApplyDefaultLanguage(PrintProblem);
  const HMODULE resources = LoadResourceModule(PrintProblem);
  int exitCode = 0;
  {
    RegistrySettingsStore settings(PrintProblem);
    PXService service({.settings = settings,
                       .devices = devices,
                       .clock = clock,
                       .programFolder = "",
                       .pipeName = NamedPipeServer::kServiceName,
                       .resources = resources});
    exitCode = RunServiceProgram(service, arguments, std::cout, std::cerr);
  }
  if (resources != nullptr) FreeLibrary(resources);
  return exitCode;
}

}  // namespace Pellux
