#include "tools/pelluxctl/doctor/setup_checks.h"

namespace Pellux {
namespace {

constexpr std::uint64_t kMebibyte = std::uint64_t{1024} * 1024;

std::string Mebibytes(std::uint64_t bytes) {
  return std::to_string(bytes / kMebibyte) + " MiB";
}

bool Present(FileProbe& files, const std::string& path) {
  return files.Status(path).state == FileFacts::State::kPresent;
}

}  // namespace

DoctorCheck CheckPolkit(FileProbe& files, ProcessProbe& processes) {
  constexpr const char* kName = "polkit";
  constexpr const char* kRecovery = ": the daemon cannot power-cycle a silent base station";
  const std::string packageRule = std::string("/usr/share/polkit-1/rules.d/") + kPolkitRuleFile;
  const std::string localRule = std::string("/etc/polkit-1/rules.d/") + kPolkitRuleFile;
  if (!Present(files, packageRule) && !Present(files, localRule)) {
    return DoctorCheck::Warn(kName, std::string(kPolkitRuleFile) + " is not installed" + kRecovery,
                             "install the pellux package");
  }
  if (!Present(files, kPolkitActionPath)) {
    return DoctorCheck::Warn(kName,
                             std::string(kPolkitActionPath) +
                                 " is not installed: other users cannot change the settings",
                             "install the pellux package");
  }
  const ProcessListing polkitd = processes.Named("polkitd");
  if (!polkitd.listed) {
    return DoctorCheck::Warn(kName, "the processes could not be listed: " + polkitd.error,
                             "run as root: sudo pelluxctl doctor");
  }
  if (polkitd.processes.empty()) {
    return DoctorCheck::Warn(kName, std::string("polkitd does not run") + kRecovery,
                             "sudo systemctl start polkit.service (install polkitd if it is "
                             "missing)");
  }
  return DoctorCheck::Ok(kName, "the rule and the action are installed and polkitd runs (pid " +
                                    std::to_string(polkitd.processes.front().pid) + ")");
}

DoctorCheck CheckLogSpace(const std::string& folder, FileProbe& files) {
  constexpr const char* kName = "log space";
  std::string measured = folder;
  // The nearest folder that is there: the daemon makes its own when it starts.
  while (files.Status(measured).state == FileFacts::State::kMissing) {
    const std::size_t slash = measured.find_last_of('/');
    if (slash == std::string::npos || measured == "/") break;
    measured = slash == 0 ? "/" : measured.substr(0, slash);
  }
  const SpaceFacts space = files.Space(measured);
  if (!space.measured) {
    return DoctorCheck::Warn(kName, "the free space of " + measured + " is unknown: " + space.error,
                             "check the file system of " + folder + " (df " + measured + ")");
  }
  std::string found = Mebibytes(space.available) + " free of " + Mebibytes(space.total) + " on " +
                      measured + (measured == folder ? "" : " (" + folder + " is not made yet)");
  if (space.available < kNoLogSpace) {
    return DoctorCheck::Fail(kName, found + ": the activity log cannot be written",
                             "free space on the file system of " + folder +
                                 " (sudo journalctl --vacuum-size=100M, remove old files)");
  }
  if (space.available < kLowLogSpace) {
    return DoctorCheck::Warn(kName, found + ": little is left",
                             "free space on the file system of " + folder);
  }
  return DoctorCheck::Ok(kName, found);
}

}  // namespace Pellux
