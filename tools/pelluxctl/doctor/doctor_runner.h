#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "tools/pelluxctl/doctor/process_probe.h"
#include "tools/pelluxctl/doctor/server_probe.h"
#include "tools/pelluxctl/doctor/service_probe.h"
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
};

// Runs every check in a fixed order (the settings first, as the others use them) and returns
// their results in the order they are printed: the service, the daemon's answer, the udev rule,
// the tty, the driver, the port's holders and probers, the service user's access, polkit, the
// settings, the upload server, the log's space. One thread; blocks for at most the two
// time-outs and whatever the probes take.
std::vector<DoctorCheck> RunDoctorChecks(DoctorProbes& probes, const DoctorPlaces& places);

// Prints the results, one line each ("FAIL  name: found; fix: ..."), or as a JSON array of
// objects with "name", "status", "found" and "fix" (empty for OK). Texts from the system are
// data: control characters in a line become '?', bytes that are no UTF-8 are replaced in JSON.
// Returns the exit status: 0 when nothing failed (warnings count as passing), else 1.
int ReportDoctorChecks(const std::vector<DoctorCheck>& checks, bool json, std::ostream& out);

}  // namespace Pellux
