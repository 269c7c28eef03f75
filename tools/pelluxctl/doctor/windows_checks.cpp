#include "tools/pelluxctl/doctor/windows_checks.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "device/bridge_library_files.h"

namespace Pellux {
namespace {

constexpr const char* kLocalSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
// Rights that change what a folder holds or who may: write, append, write attributes and
// extended attributes, delete a child, delete, change the list or the owner, and the generic
// write and all.
constexpr std::uint32_t kChangingRights = 0x00000002U | 0x00000004U | 0x00000010U | 0x00000040U |
                                          0x00000100U | 0x00010000U | 0x00040000U | 0x00080000U |
                                          0x40000000U | 0x10000000U;
constexpr const char* kReinstall = "install Pellux again (msiexec /i pellux-<version>.msi)";
constexpr const char* kStart = "sc start Pellux";

bool Trusted(const std::string& sid) {
  return sid == kLocalSystem || sid == kAdministrators;
}

std::string Ids(const DoctorSettings& settings) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "%04x:%04x", settings.vendorId, settings.productId);
  return text.data();
}

}  // namespace

DoctorCheck CheckWindowsService(const UnitFacts& service) {
  constexpr const char* kName = "service";
  const std::string name = std::string("the service ") + kDoctorWindowsService;
  if (!service.reached) {
    return DoctorCheck::Fail(kName, "the service manager could not be asked: " + service.error,
                             "run pelluxctl doctor as an administrator");
  }
  if (service.loadState == "not-found") {
    return DoctorCheck::Fail(kName, name + " is not installed", kReinstall);
  }
  const std::string described = name + " (" + service.program + ") is " +
                                (service.unitFileState == "enabled"    ? "started automatically"
                                 : service.unitFileState == "disabled" ? "disabled"
                                                                       : "started on demand") +
                                " and " +
                                (service.activeState == "active"     ? "running"
                                 : service.activeState == "inactive" ? "stopped"
                                                                     : service.activeState);
  if (service.unitFileState == "disabled") {
    return DoctorCheck::Fail(kName, described, "sc config Pellux start= auto && sc start Pellux");
  }
  if (service.activeState == "activating" || service.activeState == "deactivating") {
    return DoctorCheck::Warn(kName, described,
                             "wait a moment; if it stays so, see the Application event log "
                             "(source Pellux)");
  }
  if (service.activeState != "active") {
    return DoctorCheck::Fail(kName, described + " (the Application event log says why)", kStart);
  }
  if (service.unitFileState != "enabled") {
    return DoctorCheck::Warn(kName, described, "sc config Pellux start= auto");
  }
  return DoctorCheck::Ok(kName, described);
}

std::string ProgramFolderOf(const std::string& command, const std::string& fallback) {
  std::string program;
  if (!command.empty() && command.front() == '"') {
    const auto end = command.find('"', 1);
    if (end != std::string::npos) program = command.substr(1, end - 1);
  } else {
    // Unquoted, as an old registration may be: up to ".exe".
    std::string lower = command;
    std::ranges::transform(lower, lower.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const auto end = lower.find(".exe");
    program = end == std::string::npos ? command : command.substr(0, end + 4);
  }
  const auto slash = program.find_last_of("\\/");
  if (slash == std::string::npos) return fallback;
  return program.substr(0, slash + 1);
}

std::vector<DoctorCheck> CheckBridgeLibraries(const std::string& folder, LibraryProbe& probe) {
  std::vector<DoctorCheck> checks;
  const std::string machine = MachineName(probe.ProgramMachine());
  for (const BridgeLibraryFile& family : kBridgeLibraryFiles) {
    const std::string name = std::string("bridge library ") + family.name;
    std::string fix = "copy the vendor's ";
    fix.append(family.name).append(" (").append(machine).append(") into ").append(folder);
    fix += ", or install again with VENDORDIR set to the folder that holds it";
    const LibraryFacts facts = probe.Inspect(folder, family.name);
    if (facts.state == LibraryFacts::State::kMissing) {
      checks.push_back(DoctorCheck::Warn(
          name, std::string("not in ") + folder + " (" + facts.error + "): " + family.absent, fix));
    } else if (facts.state == LibraryFacts::State::kFailed) {
      checks.push_back(DoctorCheck::Fail(
          name, std::string("could not be read in ") + folder + ": " + facts.error, fix));
    } else if (!facts.image) {
      checks.push_back(DoctorCheck::Fail(
          name, std::string("is no Windows library (no PE image header); ") + family.absent, fix));
    } else if (!facts.image->library) {
      checks.push_back(DoctorCheck::Fail(
          name, std::string("is a program, not a library; ") + family.absent, fix));
    } else if (facts.image->machine != probe.ProgramMachine()) {
      checks.push_back(DoctorCheck::Fail(name,
                                         "is built for " + MachineName(facts.image->machine) +
                                             ", the service for " + machine + "; " + family.absent,
                                         fix));
    } else if (!facts.loaded) {
      checks.push_back(
          DoctorCheck::Fail(name, "cannot be loaded (" + facts.loadError + "); " + family.absent,
                            "install the vendor's driver package that goes with it, then: " + fix));
    } else {
      std::string found = "in ";
      found.append(folder).append(", built for ").append(machine).append(", loads");
      checks.push_back(DoctorCheck::Ok(name, found));
    }
  }
  return checks;
}

DoctorCheck CheckStationListed(const DoctorSettings& settings, const StationListing& listing) {
  constexpr const char* kName = "base station";
  if (!listing.listed) {
    return DoctorCheck::Warn(kName, "the device manager could not be asked: " + listing.error,
                             "run pelluxctl doctor as an administrator");
  }
  const std::string ids = Ids(settings);
  if (listing.interfaces.empty()) {
    return DoctorCheck::Warn(kName, "the device manager lists no USB device " + ids,
                             "plug the base station in; if its ids differ, set VID and PID in "
                             "HKLM\\Software\\Pellux\\Tracker");
  }
  std::string found;
  for (const StationInterface& device : listing.interfaces) {
    if (device.driver.empty()) {
      return DoctorCheck::Fail(kName, device.sysPath + " (" + ids + ") has no driver",
                               "install the base station's driver (the vendor's USBXpress or "
                               "libusb-win32 package), then plug it in again");
    }
    if (!found.empty()) found += "; ";
    found += device.sysPath + " (driver " + device.driver + ")";
  }
  return DoctorCheck::Ok(kName, found);
}

DoctorCheck CheckDataFolderAccess(const std::string& folder, const FolderAccess& access) {
  constexpr const char* kName = "data folder";
  const std::string mend = "icacls \"" + folder + "\" /setowner *S-1-5-18 && icacls \"" + folder +
                           "\" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F "
                           "*S-1-5-32-544:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX";
  if (access.state == FolderAccess::State::kMissing) {
    return DoctorCheck::Warn(kName, folder + " is missing (" + access.error + ")", kReinstall);
  }
  if (access.state == FolderAccess::State::kFailed) {
    return DoctorCheck::Warn(kName, folder + " could not be looked at: " + access.error,
                             "run pelluxctl doctor as an administrator");
  }
  if (!Trusted(access.owner)) {
    return DoctorCheck::Fail(
        kName,
        folder + " is owned by " + access.owner + ", not by LocalSystem or the administrators",
        mend);
  }
  if (!access.isProtected) {
    return DoctorCheck::Fail(
        kName, folder + " takes the access list of the folder above it (where users may create)",
        mend);
  }
  for (const AccessEntry& entry : access.entries) {
    if (entry.allow && (entry.mask & kChangingRights) != 0 && !Trusted(entry.sid)) {
      std::array<char, 16> mask{};
      std::snprintf(mask.data(), mask.size(), "0x%08x", entry.mask);
      return DoctorCheck::Fail(
          kName, folder + " lets " + entry.sid + " change it (rights " + mask.data() + ")", mend);
    }
  }
  return DoctorCheck::Ok(kName, folder +
                                    " is protected: only LocalSystem and the administrators "
                                    "may change it");
}

}  // namespace Pellux
