#include "service/pellux_program_win.h"

#include <iostream>

#include "base/clock.h"
#include "service/program_start_win.h"
#include "service/px_service_win.h"
#include "service/service_program_win.h"
#include "ui/settings/registry_settings_store_win.h"
#include "ui/settings/settings_report_relay.h"

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
    // The service has no error stream: the store's reports go to the activity log and the
    // debugger output once the service has opened its log.
    SettingsReportRelay reports;
    RegistrySettingsStore settings(reports.Reporter());
    PXService service({.settings = settings,
                       .devices = devices,
                       .clock = clock,
                       .programFolder = "",
                       .pipeName = NamedPipeServer::kServiceName,
                       .resources = resources,
                       .settingsReports = &reports});
    exitCode = RunServiceProgram(service, arguments, std::cout, std::cerr);
  }
  if (resources != nullptr) FreeLibrary(resources);
  return exitCode;
}

}  // namespace Pellux
