#include "service/service_command_line.h"

#include <cctype>

#include "base/log_format.h"

namespace Pellux {

ServiceSwitch ParseServiceSwitch(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return ServiceSwitch::kRunService;
  const std::string& first = arguments[1];
  if (first.size() != 2 || (first[0] != '-' && first[0] != '/')) return ServiceSwitch::kRunService;
  switch (std::toupper(static_cast<unsigned char>(first[1]))) {
    case 'I':
      return ServiceSwitch::kInstall;
    case 'S':
      return ServiceSwitch::kStart;
    case 'P':
      return ServiceSwitch::kStop;
    case 'U':
      return ServiceSwitch::kUninstall;
    case 'V':
      return ServiceSwitch::kVersion;
    default:
      return ServiceSwitch::kUsage;
  }
}

DaemonCommand ParseDaemonCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.size() < 2) return DaemonCommand::kRunDaemon;
  const std::string& first = arguments[1];
  if (first == "--help" || first == "-h" || first == "/?" || first == "-?") {
    return DaemonCommand::kHelp;
  }
  if (first == "--version") return DaemonCommand::kVersion;
  switch (ParseServiceSwitch(arguments)) {
    case ServiceSwitch::kRunService:
    case ServiceSwitch::kUsage:
      return DaemonCommand::kUsageError;
    default:
      return DaemonCommand::kSwitch;
  }
}

std::string ServiceUsageText(const std::string& program) {
  return FormatLine(
             "Usage:  %s [/SWITCH] [mode]\n\nSwitches:\n/I\tInstall service\n/S\tStart service\n"
             "/P\tStop service\n/U\tUninstall service\n/V\tDisplay version information\n"
             "/?\tDisplay this help menu\n",
             program)
      .str();
}

std::string ServiceSwitchFailureText(ServiceSwitch which) {
  switch (which) {
    case ServiceSwitch::kInstall:
      return "The Pellux Data Uploader service installation failed.\n";
    case ServiceSwitch::kStart:
      return "The Pellux Data Uploader service failed to start.\n";
    case ServiceSwitch::kStop:
      return "The Pellux Data Uploader service failed to stop.\n";
    case ServiceSwitch::kUninstall:
      return "The Pellux Data Uploader service could not be uninstalled.\n";
    default:
      return {};
  }
}

}  // namespace Pellux
