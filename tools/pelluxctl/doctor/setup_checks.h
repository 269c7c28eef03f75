#pragma once

#include <cstdint>
#include <string>

#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/file_probe.h"
#include "tools/pelluxctl/doctor/process_probe.h"

namespace Pellux {

// Where polkitd reads our rule (the package's place, and the administrator's, which wins) and
// our action.
inline constexpr const char* kPolkitRuleFile = "50-pellux-rebooter.rules";
inline constexpr const char* kPolkitActionPath =
    "/usr/share/polkit-1/actions/org.pellux.uploader.policy";

// The polkit rule (which lets the daemon start its recovery unit) and the action installed, and
// polkitd running. Without them the daemon still uploads: each lack warns.
DoctorCheck CheckPolkit(FileProbe& files, ProcessProbe& processes);

// Free space under the activity log's folder: a warning below kLowLogSpace, a failure below
// kNoLogSpace (the log can no longer write a day's file). A folder not made yet is measured on
// the nearest folder above it.
inline constexpr std::uint64_t kLowLogSpace = std::uint64_t{256} * 1024 * 1024;
inline constexpr std::uint64_t kNoLogSpace = std::uint64_t{16} * 1024 * 1024;
DoctorCheck CheckLogSpace(const std::string& folder, FileProbe& files);

}  // namespace Pellux
