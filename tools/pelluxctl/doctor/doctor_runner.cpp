#include "tools/pelluxctl/doctor/doctor_runner.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tools/pelluxctl/doctor/server_check.h"
#include "tools/pelluxctl/doctor/service_checks.h"
#include "tools/pelluxctl/doctor/settings_check.h"
#include "tools/pelluxctl/doctor/setup_checks.h"
#include "tools/pelluxctl/doctor/station_checks.h"
#include "tools/pelluxctl/doctor/windows_checks.h"

namespace Pellux {
namespace {

constexpr const char* kServiceAccount = "pellux";

// A text from the system on one line of a terminal: no control character gets through.
std::string OneLine(const std::string& text) {
  std::string line = text;
  std::ranges::replace_if(
      line, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, '?');
  return line;
}

}  // namespace

std::vector<DoctorCheck> RunDoctorChecks(DoctorProbes& probes, const DoctorPlaces& places) {
  DoctorSettings settings;
  const FileText settingsText = probes.files.Read(places.settingsFile, kMaxSettingsBytes);
  const FileFacts settingsFacts = probes.files.Status(places.settingsFile);
  const UserFacts serviceUser = probes.accounts.User(kServiceAccount);
  DoctorCheck settingsCheck =
      CheckSettingsFile(places.settingsFile, settingsText, settingsFacts, serviceUser, settings);
  const StationListing listing = probes.stations.Ports(settings.vendorId, settings.productId);

  std::vector<DoctorCheck> checks;
  checks.push_back(CheckServiceUnit(probes.service));
  checks.push_back(CheckDaemonAnswers(probes.connection, places.service, places.answerTimeout));
  checks.push_back(CheckUdevRule(settings, probes.files));
  checks.push_back(CheckStationTty(settings, listing, probes.files, probes.accounts));
  checks.push_back(CheckStationDriver(settings, listing));
  checks.push_back(CheckPortHolders(settings, listing, probes.files, probes.processes));
  checks.push_back(CheckPortProbers(settings, listing, probes.processes));
  checks.push_back(CheckServiceUserAccess(settings, listing, probes.files, probes.accounts));
  checks.push_back(CheckPolkit(probes.files, probes.processes));
  checks.push_back(std::move(settingsCheck));
  checks.push_back(CheckServer(settings, probes.server, places.serverTimeout));
  checks.push_back(CheckLogSpace(places.logFolder, probes.files));
  return checks;
}

std::vector<DoctorCheck> RunWindowsDoctorChecks(WindowsDoctorProbes& probes,
                                                const DoctorPlaces& places,
                                                const DoctorSettings& settings) {
  const UnitFacts service = probes.service.Unit(kDoctorWindowsService);
  std::vector<DoctorCheck> checks;
  checks.push_back(CheckWindowsService(service));
  checks.push_back(CheckDaemonAnswers(probes.connection, places.service, places.answerTimeout));
  for (DoctorCheck& library :
       CheckBridgeLibraries(ProgramFolderOf(service.program, places.ownFolder), probes.libraries)) {
    checks.push_back(std::move(library));
  }
  checks.push_back(
      CheckStationListed(settings, probes.stations.Ports(settings.vendorId, settings.productId)));
  checks.push_back(CheckServer(settings, probes.server, places.serverTimeout));
  checks.push_back(
      CheckDataFolderAccess(places.dataFolder, probes.folders.Read(places.dataFolder)));
  return checks;
}

int ReportDoctorChecks(const std::vector<DoctorCheck>& checks, bool json, std::ostream& out) {
  const bool failed = std::ranges::any_of(
      checks, [](const DoctorCheck& check) { return check.status == DoctorStatus::kFail; });
  if (json) {
    // In the order a reader expects them, not sorted.
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const DoctorCheck& check : checks) {
      array.push_back({{"name", check.name},
                       {"status", DoctorStatusName(check.status)},
                       {"found", check.found},
                       {"fix", check.fix}});
    }
    out << array.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
  } else {
    for (const DoctorCheck& check : checks) {
      std::string status = DoctorStatusName(check.status);
      status.resize(4, ' ');
      out << status << "  " << OneLine(check.name) << ": " << OneLine(check.found);
      if (check.status != DoctorStatus::kOk && !check.fix.empty()) {
        out << "; fix: " << OneLine(check.fix);
      }
      out << "\n";
    }
  }
  out.flush();
  return failed ? 1 : 0;
}

}  // namespace Pellux
