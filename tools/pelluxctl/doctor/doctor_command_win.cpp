#include <windows.h>
// after windows.h
#include <shlobj.h>

#include <array>
#include <memory>
#include <string>

#include "base/system_error.h"
#include "base/wide_text_win.h"
#include "device/library_path_win.h"
#include "tools/pelluxctl/doctor/doctor_command.h"
#include "tools/pelluxctl/doctor/doctor_runner.h"
#include "ui/settings/settings_store.h"

namespace Pellux {
namespace {

// ProgramData\Pellux, as the service finds the all-users application data folder.
std::string DataFolder(const PelluxctlIo& io) {
  std::array<char, MAX_PATH> common{};
  const HRESULT result =
      SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common.data());
  if (FAILED(result)) {
    io.err << "pelluxctl: "
           << SystemCallFailure("SHGetFolderPathA", "CSIDL_COMMON_APPDATA",
                                static_cast<unsigned long>(result))
           << "\n";
    return "C:\\ProgramData\\Pellux";
  }
  return std::string(common.data()) + "\\Pellux";
}

}  // namespace

int RunDoctorCommand(const PelluxctlOptions& options, UiConnection& connection,
                     const PelluxctlIo& io) {
  const auto store = SettingsStore::CreateForPlatform(
      "", [&io](const std::string& line) { io.err << "pelluxctl: settings: " << line << "\n"; });
  const DoctorSettings settings = DoctorSettingsFromStore(*store);
  const auto service = ServiceProbe::CreateForPlatform();
  const auto stations = StationProbe::CreateForPlatform();
  const auto libraries = LibraryProbe::CreateForPlatform();
  const auto folders = FolderAccessProbe::CreateForPlatform();
  const auto server = ServerProbe::CreateForPlatform();
  WindowsDoctorProbes probes{*service, *stations, *libraries, *folders, *server, connection};
  DoctorPlaces places;
  places.service = options.service.empty() ? UiConnection::DefaultServiceName() : options.service;
  places.ownFolder = Utf8FromWide(ProgramFolder());
  places.dataFolder = DataFolder(io);
  places.answerTimeout = io.answerTimeout;
  places.serverTimeout = io.serverTimeout;
  return ReportDoctorChecks(RunWindowsDoctorChecks(probes, places, settings), options.json,
                            io.out) == 0
             ? kPelluxctlOk
             : kPelluxctlFailed;
}

}  // namespace Pellux
