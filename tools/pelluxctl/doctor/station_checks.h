#pragma once

#include <string>
#include <vector>

#include "tools/pelluxctl/doctor/account_probe.h"
#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "tools/pelluxctl/doctor/process_probe.h"
#include "tools/pelluxctl/doctor/settings_check.h"
#include "tools/pelluxctl/doctor/station_probe.h"

namespace Pellux {

// The checks of the base station's port. Each is pure over its probes and the settings; the
// station's listing is made once (StationProbe::Ports with the settings' ids) and handed to
// each. With the setting SerialPort, its path is the one port and udev's listing is not used.

// Where udev reads rules, in the order it prefers a file of one name, and the name of ours.
inline constexpr const char* kUdevRuleName = "60-pellux.rules";
const std::vector<std::string>& UdevRuleFolders();

// Our udev rule installed (the file udev uses, not masked), naming the configured ids, or an
// adapter rule made from the example (61-pellux-adapter.rules) naming them.
DoctorCheck CheckUdevRule(const DoctorSettings& settings, FileProbe& files);

// The station's tty there, with the group (pellux) and the group's read and write bits the rule
// gives.
DoctorCheck CheckStationTty(const DoctorSettings& settings, const StationListing& listing,
                            FileProbe& files, AccountProbe& accounts);

// The cp210x driver bound to every interface of the station.
DoctorCheck CheckStationDriver(const DoctorSettings& settings, const StationListing& listing);

// No process but the daemon holds the port open.
DoctorCheck CheckPortHolders(const DoctorSettings& settings, const StationListing& listing,
                             FileProbe& files, ProcessProbe& processes);

// Neither ModemManager (where the port lacks ID_MM_DEVICE_IGNORE=1) nor brltty may probe it.
DoctorCheck CheckPortProbers(const DoctorSettings& settings, const StationListing& listing,
                             ProcessProbe& processes);

// The service's user (pellux) may open the port for reading and writing.
DoctorCheck CheckServiceUserAccess(const DoctorSettings& settings, const StationListing& listing,
                                   FileProbe& files, AccountProbe& accounts);

}  // namespace Pellux
