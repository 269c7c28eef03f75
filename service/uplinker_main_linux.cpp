// uplinker: the Pellux uploader as a Linux daemon. With no switch it runs in the foreground
// (under systemd as pellux.service, or by hand); the switches start, stop, enable and disable
// the unit through systemd, as the Windows service's switches do with its service manager.

#include <unistd.h>

#include <atomic>
#include <iostream>
#include <string>
#include <vector>

#include "app/stored_station_settings.h"
#include "base/clock.h"
#include "base/log_format.h"
#include "device/udev_devices_linux.h"
#include "link/linux_base_station_devices.h"
#include "service/daemon_event_sources_linux.h"
#include "service/daemon_relauncher_linux.h"
#include "service/linux_daemon_linux.h"
#include "service/service_command_line.h"
#include "service/systemd_units_linux.h"
#include "ui/channel/unix_pipe_server_linux.h"
#include "ui/log/program_version.h"
#include "ui/settings/settings_store.h"

namespace Pellux {
namespace {

constexpr const char* kUnit = "pellux.service";

void PrintProblem(const std::string& line) {
  std::cerr << line << "\n";
}

int RunSwitch(ServiceSwitch which, const std::string& program) {
  SystemdUnits units(PrintProblem);
  bool done = true;
  switch (which) {
    case ServiceSwitch::kInstall:
      done = units.Enable(kUnit);
      break;
    case ServiceSwitch::kStart:
      done = units.Start(kUnit);
      if (done) std::cerr << kServiceStartedText;
      break;
    case ServiceSwitch::kStop:
      done = units.Stop(kUnit);
      break;
    case ServiceSwitch::kUninstall:
      done = units.Disable(kUnit);
      break;
    case ServiceSwitch::kVersion:
      std::cout << FormatLine("Version %s\n", ProgramVersion::OfThisProgram().text);
      break;
    default:
      std::cout << ServiceUsageText(program);
      break;
  }
  if (!done) std::cerr << ServiceSwitchFailureText(which);
  return 0;
}

int RunDaemon() {
  // Before any thread: only the daemon's wait takes SIGTERM and SIGINT.
  LinuxDaemon::BlockStopSignals();
  // $STATE_DIRECTORY/settings.json under systemd.
  std::unique_ptr<SettingsStore> settings = SettingsStore::CreateForPlatform("", PrintProblem);
  // Device lines reach the daemon's log once it exists; before that, the error stream.
  std::atomic<LinuxDaemon*> daemon{nullptr};
  const DeviceLog deviceLog = [&daemon](int level, const std::string& line) {
    if (LinuxDaemon* running = daemon.load()) {
      running->Interface().Log(line, level, kNoContext);
    } else {
      PrintProblem(line);
    }
  };
  StoredStationSettings stationSettings(*settings);
  LinuxBaseStationDevices devices(stationSettings, deviceLog);
  LinuxDaemon uplinker(
      {.settings = *settings,
       .devices = devices,
       .clock = SystemClock::Instance(),
       .socketPath = UnixPipeServer::DefaultPath(),
       .programFolder = "",
       .output = nullptr,
       .logFolder = nullptr,
       .relauncher = DaemonRelauncher(DaemonRelauncher::UnderSystemd(), getpid())});
  daemon.store(&uplinker);

  DaemonEventSources events(uplinker, deviceLog);
  events.Start();

  const int exitCode = uplinker.Run();
  events.Stop();
  daemon.store(nullptr);
  return exitCode;
}

}  // namespace
}  // namespace Pellux

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  // The Windows switches take one letter; "--help" is what a Linux user types.
  if (arguments.size() == 2 && (arguments[1] == "--help" || arguments[1] == "-h")) {
    std::cout << Pellux::ServiceUsageText(arguments[0]);
    return 0;
  }
  const Pellux::ServiceSwitch which = Pellux::ParseServiceSwitch(arguments);
  if (which != Pellux::ServiceSwitch::kRunService) {
    return Pellux::RunSwitch(which, arguments.empty() ? "uplinker" : arguments[0]);
  }
  return Pellux::RunDaemon();
}
