// uplinker: the Pellux uploader as a Linux daemon. With no switch it runs in the foreground
// (under systemd as pellux.service, or by hand); the switches start, stop, enable and disable
// the unit through systemd, as the Windows service's switches do with its service manager.

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/stored_station_settings.h"
#include "base/clock.h"
#include "base/log_format.h"
#include "base/log_level.h"
#include "device/udev_devices_linux.h"
#include "link/linux_base_station_devices.h"
#include "service/daemon_event_sources_linux.h"
#include "service/daemon_relauncher_linux.h"
#include "service/linux_daemon_linux.h"
#include "service/service_command_line.h"
#include "service/systemd_units_linux.h"
#include "service/test_hooks.h"
#include "ui/channel/unix_pipe_server_linux.h"
#include "ui/log/program_version.h"
#include "ui/settings/settings_store.h"

namespace Pellux {
namespace {

constexpr const char* kUnit = "pellux.service";

// A hook only ever shortens the engine's own limit.
static_assert(kMostRadioIdleLimit == CommunicationManager::kWatchdogIdleLimit);

// The usage of the Linux program: its switches act on the unit through systemd.
std::string DaemonUsageText(const std::string& program) {
  return FormatLine(
             "Usage:  %s [SWITCH]\n\n"
             "Without a switch the uploader runs in the foreground, as pellux.service runs it.\n\n"
             "Switches (\"-\" or \"/\", any case):\n"
             "/I\tEnable pellux.service\n"
             "/S\tStart pellux.service and wait until it runs\n"
             "/P\tStop pellux.service and wait until it has stopped\n"
             "/U\tDisable pellux.service\n"
             "/V, --version\tDisplay version information\n"
             "/?, -h, --help\tDisplay this help\n\n"
             "Exit status: 0 done, 1 failed (the reason on standard error), 2 usage error.\n",
             program)
      .str();
}

void PrintProblem(const std::string& line) {
  std::cerr << line << "\n";
}

// What a switch did, as its exit code: 0 done, 1 failed (told on the error stream).
int RunSwitch(ServiceSwitch which, const std::string& program) {
  SystemdUnits units(PrintProblem);
  bool done = true;
  switch (which) {
    case ServiceSwitch::kInstall:
      done = units.Enable(kUnit);
      break;
    case ServiceSwitch::kStart:
      // Started means running, as systemctl has it: the job's end is waited for.
      done = units.Start(kUnit, SystemdUnits::Wait::kResult);
      if (done) std::cerr << kServiceStartedText;
      break;
    case ServiceSwitch::kStop:
      done = units.Stop(kUnit, SystemdUnits::Wait::kResult);
      break;
    case ServiceSwitch::kUninstall:
      done = units.Disable(kUnit);
      break;
    case ServiceSwitch::kVersion:
      std::cout << FormatLine("Version %s\n", ProgramVersion::OfThisProgram().text);
      break;
    default:
      std::cout << DaemonUsageText(program);
      break;
  }
  if (!done) std::cerr << ServiceSwitchFailureText(which);
  return done ? 0 : 1;
}

int RunDaemon() {
  // Before any thread: only the daemon's wait takes SIGTERM and SIGINT.
  LinuxDaemon::BlockStopSignals();
  // Test hooks, for the system tests of the installed daemon (set by a unit drop-in); without
  // the variable, nothing of them.
  const char* hookText = std::getenv(kTestHooksVariable);
  const TestHooksReading hooks =
      hookText != nullptr ? ParseTestHooks(hookText) : TestHooksReading{};
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
  LinuxDaemon uplinker({.settings = *settings,
                        .devices = devices,
                        .clock = SystemClock::Instance(),
                        .socketPath = UnixPipeServer::DefaultPath(),
                        .programFolder = "",
                        .output = nullptr,
                        .logFolder = nullptr,
                        .relauncher = DaemonRelauncher(DaemonRelauncher::UnderSystemd(), getpid()),
                        .watchdogIdleLimit = hooks.hooks.radioIdleLimit.value_or(
                            CommunicationManager::kWatchdogIdleLimit),
                        .engineStallAfter = hooks.hooks.engineStallAfter,
                        .engineStall = {}});
  daemon.store(&uplinker);
  // As errors and warnings, so that a daemon under test hooks stands out in the journal.
  if (hooks.hooks.Any()) {
    uplinker.Interface().Log(TestHooksActiveLine(hooks.hooks), LogLevel::kError, kNoContext);
  }
  for (const std::string& problem : hooks.problems) {
    uplinker.Interface().Log(problem, LogLevel::kIgnored, kNoContext);
  }

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
  const std::string program = arguments.empty() ? "uplinker" : arguments[0];
  switch (Pellux::ParseDaemonCommandLine(arguments)) {
    case Pellux::DaemonCommand::kRunDaemon:
      return Pellux::RunDaemon();
    case Pellux::DaemonCommand::kSwitch:
      return Pellux::RunSwitch(Pellux::ParseServiceSwitch(arguments), program);
    case Pellux::DaemonCommand::kHelp:
      std::cout << Pellux::DaemonUsageText(program);
      return 0;
    case Pellux::DaemonCommand::kVersion:
      return Pellux::RunSwitch(Pellux::ServiceSwitch::kVersion, program);
    case Pellux::DaemonCommand::kUsageError:
      break;
  }
  std::cerr << Pellux::FormatLine("%s: unknown argument \"%s\"\n", program, arguments[1]).str()
            << Pellux::DaemonUsageText(program);
  return 2;
}
