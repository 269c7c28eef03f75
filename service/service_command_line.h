#pragma once

#include <string>
#include <vector>

namespace Pellux {

// What the service program is asked to do by its command line. Only the first argument counts,
// and only when it is exactly two characters, '-' or '/' and a letter (any case); anything else
// (no argument, "/II", "install") runs the program as a service under the dispatcher.
enum class ServiceSwitch { kRunService, kInstall, kStart, kStop, kUninstall, kVersion, kUsage };

// `arguments` are the whole command line, the program's own path first.
ServiceSwitch ParseServiceSwitch(const std::vector<std::string>& arguments);

// What the Linux daemon's command line asks for. The daemon runs only with no argument at all:
// a word it does not know is a usage error, never a second daemon. "--help" and "-h" are what a
// Linux user types; the switches are the Windows program's (ParseServiceSwitch), where "/?"
// asks for the usage and an unknown letter is a usage error.
enum class DaemonCommand { kRunDaemon, kSwitch, kHelp, kVersion, kUsageError };

DaemonCommand ParseDaemonCommandLine(const std::vector<std::string>& arguments);

// The usage text, with `program` (the first command line word) in it.
std::string ServiceUsageText(const std::string& program);

// What a switch prints to the error stream when it fails (empty for those that print nothing).
std::string ServiceSwitchFailureText(ServiceSwitch which);

// What /S prints to the error stream once the start request was accepted.
inline constexpr const char* kServiceStartedText =
    "The Pellux Data Uploader service has started.\n";

}  // namespace Pellux
