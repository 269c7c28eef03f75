#include <cstdlib>
#include <memory>

#include "tools/pelluxctl/doctor/doctor_command.h"
#include "tools/pelluxctl/doctor/doctor_runner.h"
#include "ui/log/directory_log_folder_linux.h"
#include "ui/settings/json_settings_store.h"

namespace Pellux {

int RunDoctorCommand(const PelluxctlOptions& options, UiConnection& connection,
                     const PelluxctlIo& io) {
  const auto service = ServiceProbe::CreateForPlatform();
  const auto stations = StationProbe::CreateForPlatform();
  const auto files = FileProbe::CreateForPlatform();
  const auto accounts = AccountProbe::CreateForPlatform();
  const auto processes = ProcessProbe::CreateForPlatform();
  const auto server = ServerProbe::CreateForPlatform();
  DoctorProbes probes{*service, *stations, *files, *accounts, *processes, *server, connection};
  DoctorPlaces places;
  places.service = options.service.empty() ? UiConnection::DefaultServiceName() : options.service;
  // Where the daemon looks, with the folders systemd hands it when it runs the unit.
  places.settingsFile = DefaultSettingsPath(std::getenv("STATE_DIRECTORY"));
  places.logFolder = DefaultLogFolderPath(std::getenv("LOGS_DIRECTORY"));
  places.answerTimeout = io.answerTimeout;
  places.serverTimeout = io.serverTimeout;
  return ReportDoctorChecks(RunDoctorChecks(probes, places), options.json, io.out) == 0
             ? kPelluxctlOk
             : kPelluxctlFailed;
}

}  // namespace Pellux
