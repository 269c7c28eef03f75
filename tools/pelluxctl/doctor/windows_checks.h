#pragma once

#include <string>
#include <vector>

#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/folder_access_probe.h"
#include "tools/pelluxctl/doctor/library_probe.h"
#include "tools/pelluxctl/doctor/service_probe.h"
#include "tools/pelluxctl/doctor/settings_check.h"
#include "tools/pelluxctl/doctor/station_probe.h"

namespace Pellux {

// The checks of `pelluxctl doctor` on Windows. Pure functions of what the probes found.

// The service's name in the service manager.
inline constexpr const char* kDoctorWindowsService = "Pellux";

// The service installed, started automatically, and running.
DoctorCheck CheckWindowsService(const UnitFacts& service);

// The folder the service's program is in, ending in a backslash: from the command the service
// manager starts (quoted or not, with arguments or not); `fallback` when there is none.
std::string ProgramFolderOf(const std::string& command, const std::string& fallback);

// Each bridge library beside the program (one check each, in kBridgeLibraryFiles' order): present,
// a library for the program's machine, and loadable. A missing one warns (its family of base
// stations is absent); one that is there but cannot work fails.
std::vector<DoctorCheck> CheckBridgeLibraries(const std::string& folder, LibraryProbe& probe);

// A USB device with the configured ids listed by the device manager, with a driver.
DoctorCheck CheckStationListed(const DoctorSettings& settings, const StationListing& listing);

// The service's data folder (ProgramData\Pellux) owned by LocalSystem or the administrators,
// with a protected access list that lets no one else write.
DoctorCheck CheckDataFolderAccess(const std::string& folder, const FolderAccess& access);

}  // namespace Pellux
