#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "tools/pelluxctl/doctor/folder_access_probe.h"
#include "tools/pelluxctl/doctor/library_probe.h"
#include "tools/pelluxctl/doctor/process_probe.h"
#include "tools/pelluxctl/doctor/server_probe.h"
#include "tools/pelluxctl/doctor/service_probe.h"
#include "tools/pelluxctl/doctor/settings_check.h"
#include "tools/pelluxctl/doctor/station_probe.h"
#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

// Everything the checks look through: the platform's probes in the program, fakes in tests.
struct DoctorProbes {
  ServiceProbe& service;
  StationProbe& stations;
  FileProbe& files;
  AccountProbe& accounts;
  ProcessProbe& processes;
  ServerProbe& server;
  UiConnection& connection;
};

// Where the daemon keeps what the checks look at, and how long they wait.
struct DoctorPlaces {
  // The daemon's UI endpoint, for the messages.
  std::string service;
  std::string settingsFile;
  std::string logFolder;
  std::chrono::milliseconds answerTimeout{3000};
  std::chrono::milliseconds serverTimeout{3000};
  // Windows: where pelluxctl itself is, for a service whose program the manager does not say
  // (ending in a backslash), and the service's data folder, ProgramData\Pellux.
  std::string ownFolder;
  std::string dataFolder;
};

// Runs every check in a fixed order (the settings first, as the others use them) and returns
// their results in the order they are printed: the service, the daemon's answer, the udev rule,
// the tty, the driver, the port's holders and probers, the service user's access, polkit, the
// settings, the upload server, the log's space. One thread; blocks for at most the two
// time-outs and whatever the probes take.
std::vector<DoctorCheck> RunDoctorChecks(DoctorProbes& probes, const DoctorPlaces& places);

// The probes of the Windows checks.
struct WindowsDoctorProbes {
  ServiceProbe& service;
  StationProbe& stations;
  LibraryProbe& libraries;
  FolderAccessProbe& folders;
  ServerProbe& server;
  UiConnection& connection;
};

// The Windows checks in the order they are printed: the service, the daemon's answer on its
// pipe, the three bridge libraries beside the service's program, the base station in the device
// manager, the upload server, the data folder's access list. `settings` are the service's (the
// registry's). One thread; blocks for at most the two time-outs and whatever the probes take.
std::vector<DoctorCheck> RunWindowsDoctorChecks(WindowsDoctorProbes& probes,
                                                const DoctorPlaces& places,
                                                const DoctorSettings& settings);

// Prints the results, one line each ("FAIL  name: found; fix: ..."), or as a JSON array of
// objects with "name", "status", "found" and "fix" (empty for OK). Texts from the system are
// data: control characters in a line become '?', bytes that are no UTF-8 are replaced in JSON.
// Returns the exit status: 0 when nothing failed (warnings count as passing), else 1.
int ReportDoctorChecks(const std::vector<DoctorCheck>& checks, bool json, std::ostream& out);

}  // namespace Pellux
