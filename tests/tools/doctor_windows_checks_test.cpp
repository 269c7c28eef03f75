// The Windows checks of `pelluxctl doctor` over stand-in probes: a machine as the installer
// leaves it, changed one way per row; the order
// of the whole run and the settings it takes from a settings store.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "device/bridge_library_files.h"
#include "sim/memory_settings_store.h"
#include "tests/tools/doctor_fakes.h"
#include "tools/pelluxctl/doctor/doctor_runner.h"
#include "tools/pelluxctl/doctor/windows_checks.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kI386 = 0x014c;
constexpr std::uint16_t kAmd64 = 0x8664;
constexpr const char* kFolder = "C:\\Program Files (x86)\\Pellux\\";
constexpr const char* kData = "C:\\ProgramData\\Pellux";

struct Machine {
  Machine() {
    service.facts = {true,     "",        "loaded",
                     "active", "enabled", std::string("\"") + kFolder + "uplinker.exe\""};
    connection.replies.push_back(std::string(1, 'T') + "1 0");
    for (const BridgeLibraryFile& family : kBridgeLibraryFiles)
      libraries.AddLoadable(family.name, kI386);
    stations.listing.listed = true;
    stations.listing.interfaces.push_back({"USB\\VID_0FCF&PID_1008\\1234", "libusb0"});
    server.answer.outcome = ServerAnswer::Outcome::kAnswered;
    server.answer.status = 200;
    folders.access.state = FolderAccess::State::kRead;
    folders.access.owner = "S-1-5-18";
    folders.access.isProtected = true;
    folders.access.entries = {{"S-1-5-18", 0x1f01ff, true, false},
                              {"S-1-5-32-544", 0x1f01ff, true, false},
                              {"S-1-5-32-545", 0x1200a9, true, false}};
    settings.vendorId = 0x0fcf;
    settings.productId = 0x1008;
  }
  FakeServiceProbe service;
  FakeStationProbe stations;
  FakeLibraryProbe libraries;
  FakeFolderAccessProbe folders;
  FakeServerProbe server;
  FakeConnection connection;
  DoctorSettings settings;
  WindowsDoctorProbes probes{service, stations, libraries, folders, server, connection};
  DoctorPlaces places{"\\\\.\\pipe\\Pellux", "", "", 30ms, 30ms, "C:\\elsewhere\\", kData};
};

struct Case {
  const char* what;
  std::function<void(Machine&)> change;
  DoctorStatus status;
  const char* found;
  const char* fix;
};

// Runs every row through `check` on a machine changed by the row, expecting its outcome.
void RunTable(const std::vector<Case>& cases, const std::function<DoctorCheck(Machine&)>& check) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine machine;
    if (c.change) c.change(machine);
    const DoctorCheck result = check(machine);
    EXPECT_EQ(result.status, c.status) << result.found;
    EXPECT_NE(result.found.find(c.found), std::string::npos) << result.found;
    if (*c.fix == '\0') {
      EXPECT_EQ(result.fix, "");
    } else {
      EXPECT_NE(result.fix.find(c.fix), std::string::npos) << result.fix;
    }
  }
}

TEST(DoctorWindowsService, InstalledStartedAutomaticallyAndRunning) {
  RunTable(
      {
          {"running", nullptr, DoctorStatus::kOk,
           "the service Pellux (\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\") is started "
           "automatically and running",
           ""},
          {"manager unreachable",
           [](Machine& m) { m.service.facts = {false, "error 5", "", "", "", ""}; },
           DoctorStatus::kFail, "could not be asked: error 5", "as an administrator"},
          {"not installed", [](Machine& m) { m.service.facts.loadState = "not-found"; },
           DoctorStatus::kFail, "the service Pellux is not installed", "msiexec /i"},
          {"disabled", [](Machine& m) { m.service.facts.unitFileState = "disabled"; },
           DoctorStatus::kFail, "is disabled and running", "sc config Pellux start= auto"},
          {"stopped", [](Machine& m) { m.service.facts.activeState = "inactive"; },
           DoctorStatus::kFail, "and stopped (the Application event log says why)",
           "sc start Pellux"},
          {"starting", [](Machine& m) { m.service.facts.activeState = "activating"; },
           DoctorStatus::kWarn, "and activating", "wait a moment"},
          {"on demand", [](Machine& m) { m.service.facts.unitFileState = "manual"; },
           DoctorStatus::kWarn, "started on demand and running", "start= auto"},
      },
      [](Machine& m) { return CheckWindowsService(m.service.facts); });
}

TEST(DoctorWindowsService, TheProgramsFolderFromTheServicesCommand) {
  const struct {
    const char* command;
    const char* folder;
  } cases[] = {
      {"\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\"", kFolder},
      {"\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\" -x", kFolder},
      {"C:\\Program Files (x86)\\Pellux\\UPLINKER.EXE /y", kFolder},
      {"C:\\Pellux\\uplinker", "C:\\Pellux\\"},
      {"", "fallback\\"},
      {"\"unterminated", "fallback\\"},
      {"uplinker.exe", "fallback\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgramFolderOf(c.command, "fallback\\"), c.folder) << c.command;
  }
}

DoctorCheck Library(Machine& m, std::size_t index) {
  return CheckBridgeLibraries(kFolder, m.libraries).at(index);
}

TEST(DoctorWindowsLibraries, EachPresentForTheServicesMachineAndLoadable) {
  const std::string libusb = kBridgeLibraryFiles[2].name;
  RunTable(
      {
          {"loads", nullptr, DoctorStatus::kOk,
           "in C:\\Program Files (x86)\\Pellux\\, built for i386, loads", ""},
          {"missing", [&](Machine& m) { m.libraries.libraries.erase(libusb); }, DoctorStatus::kWarn,
           "not in C:\\Program Files (x86)\\Pellux\\ (CreateFileW(C:\\Program Files "
           "(x86)\\Pellux\\libusb0.dll) failed: error 2): base stations on the libusb-win32 "
           "driver are not found",
           "VENDORDIR"},
          {"unreadable",
           [&](Machine& m) {
             m.libraries.libraries[libusb].state = LibraryFacts::State::kFailed;
             m.libraries.libraries[libusb].error = "ReadFile failed: error 5";
           },
           DoctorStatus::kFail, "could not be read in", "copy the vendor's libusb0.dll (i386)"},
          {"64-bit", [&](Machine& m) { m.libraries.AddLoadable(libusb, kAmd64); },
           DoctorStatus::kFail,
           "is built for x86-64, the service for i386; base stations on the libusb-win32 driver",
           "copy the vendor's libusb0.dll (i386) into C:\\Program Files (x86)\\Pellux\\"},
          {"no image", [&](Machine& m) { m.libraries.libraries[libusb].image.reset(); },
           DoctorStatus::kFail,
           "is no Windows library (no PE image header); base stations on the libusb-win32",
           "VENDORDIR"},
          {"a program", [&](Machine& m) { m.libraries.libraries[libusb].image->library = false; },
           DoctorStatus::kFail, "is a program, not a library", "VENDORDIR"},
          {"does not load",
           [&](Machine& m) {
             m.libraries.libraries[libusb].loaded = false;
             m.libraries.libraries[libusb].loadError = "LoadLibraryExW failed: error 126";
           },
           DoctorStatus::kFail, "cannot be loaded (LoadLibraryExW failed: error 126)",
           "driver package"},
      },
      [](Machine& m) { return Library(m, 2); });
  // One line per family, named after the file, each looked for in the program's folder.
  Machine machine;
  const auto checks = CheckBridgeLibraries(kFolder, machine.libraries);
  ASSERT_EQ(checks.size(), kBridgeLibraryFiles.size());
  for (std::size_t i = 0; i < checks.size(); ++i) {
    EXPECT_EQ(checks[i].name, std::string("bridge library ") + kBridgeLibraryFiles[i].name);
    EXPECT_EQ(machine.libraries.asked[i], std::string(kFolder) + kBridgeLibraryFiles[i].name);
  }
}

TEST(DoctorWindowsStation, ListedByTheDeviceManagerWithADriver) {
  RunTable(
      {
          {"listed", nullptr, DoctorStatus::kOk, "USB\\VID_0FCF&PID_1008\\1234 (driver libusb0)",
           ""},
          {"not plugged in", [](Machine& m) { m.stations.listing.interfaces.clear(); },
           DoctorStatus::kWarn, "lists no USB device 0fcf:1008", "set VID and PID"},
          {"no driver", [](Machine& m) { m.stations.listing.interfaces[0].driver.clear(); },
           DoctorStatus::kFail, "USB\\VID_0FCF&PID_1008\\1234 (0fcf:1008) has no driver",
           "install the base station's driver"},
          {"no device manager",
           [](Machine& m) {
             m.stations.listing = {false, "SetupDiGetClassDevsW(USB) failed: error 5", {}, {}};
           },
           DoctorStatus::kWarn, "could not be asked: SetupDiGetClassDevsW(USB) failed",
           "administrator"},
      },
      [](Machine& m) {
        return CheckStationListed(m.settings,
                                  m.stations.Ports(m.settings.vendorId, m.settings.productId));
      });
}

TEST(DoctorWindowsDataFolder, OwnedByTheSystemAndProtected) {
  RunTable(
      {
          {"as installed", nullptr, DoctorStatus::kOk, "C:\\ProgramData\\Pellux is protected", ""},
          {"owned by the administrators",
           [](Machine& m) { m.folders.access.owner = "S-1-5-32-544"; }, DoctorStatus::kOk,
           "is protected", ""},
          {"missing",
           [](Machine& m) {
             m.folders.access = {FolderAccess::State::kMissing, "error 2", "", false, {}};
           },
           DoctorStatus::kWarn, "is missing (error 2)", "install Pellux again"},
          {"unreadable",
           [](Machine& m) {
             m.folders.access = {FolderAccess::State::kFailed, "error 5", "", false, {}};
           },
           DoctorStatus::kWarn, "could not be looked at: error 5", "administrator"},
          {"a user's folder", [](Machine& m) { m.folders.access.owner = "S-1-5-21-1-2-3-1001"; },
           DoctorStatus::kFail, "is owned by S-1-5-21-1-2-3-1001", "icacls"},
          {"inherits", [](Machine& m) { m.folders.access.isProtected = false; },
           DoctorStatus::kFail, "takes the access list of the folder above it", "/inheritance:r"},
          {"users may write",
           [](Machine& m) {
             m.folders.access.entries.push_back({"S-1-5-32-545", 0x2, true, false});
           },
           DoctorStatus::kFail, "lets S-1-5-32-545 change it (rights 0x00000002)", "icacls"},
          {"everyone, full control",
           [](Machine& m) {
             m.folders.access.entries.push_back({"S-1-1-0", 0x10000000, true, false});
           },
           DoctorStatus::kFail, "lets S-1-1-0 change it", "icacls"},
          {"a denial is no grant",
           [](Machine& m) {
             m.folders.access.entries.push_back({"S-1-1-0", 0x1f01ff, false, false});
           },
           DoctorStatus::kOk, "is protected", ""},
      },
      [](Machine& m) { return CheckDataFolderAccess(kData, m.folders.Read(kData)); });
}

TEST(DoctorWindowsChecks, RunInTheirOrderAgainstTheServicesFolderAndSettings) {
  Machine machine;
  const auto checks = RunWindowsDoctorChecks(machine.probes, machine.places, machine.settings);
  std::vector<std::string> names;
  for (const DoctorCheck& check : checks) {
    names.push_back(check.name);
    EXPECT_EQ(check.status, DoctorStatus::kOk)
        << check.name << ": " << check.found << " / " << check.fix;
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"service", "daemon", "bridge library DSI_SiUSBXp_3_1.DLL",
                                      "bridge library DSI_CP210xManufacturing_3_1.dll",
                                      "bridge library libusb0.dll", "base station", "upload server",
                                      "data folder"}));
  EXPECT_EQ(machine.service.asked, std::vector<std::string>{"Pellux"});
  EXPECT_EQ(machine.libraries.asked[0], std::string(kFolder) + "DSI_SiUSBXp_3_1.DLL");
  ASSERT_EQ(machine.stations.asked.size(), 1U);
  EXPECT_EQ(machine.stations.asked[0].first, 0x0fcf);
  EXPECT_EQ(machine.stations.asked[0].second, 0x1008);
  EXPECT_EQ(machine.folders.asked, std::vector<std::string>{kData});

  // A service the manager does not know: the libraries are looked for beside pelluxctl.
  Machine missing;
  missing.service.facts = {true, "", "not-found", "", "", ""};
  RunWindowsDoctorChecks(missing.probes, missing.places, missing.settings);
  EXPECT_EQ(missing.libraries.asked[0], "C:\\elsewhere\\DSI_SiUSBXp_3_1.DLL");
}

TEST(DoctorWindowsChecks, SettingsFromTheStoreAsTheServiceReadsThem) {
  MemorySettingsStore store;
  store.WriteNumber("Tracker", "VID", 0x0fcf);
  store.WriteNumber("Tracker", "PID", 0xFFFFFFFF);  // unset: the default stays
  store.WriteText("Tracker", "ServerHost", "uploads.example");
  store.WriteNumber("Tracker", "ServerPort", 8080);
  store.WriteNumber("Tracker", "ProxySelection", 2);
  store.WriteText("Tracker", "ProxyServerOverride", "proxy.example:3128");
  const DoctorSettings settings = DoctorSettingsFromStore(store);
  const DoctorSettings defaults;
  EXPECT_EQ(settings.vendorId, 0x0fcf);
  EXPECT_EQ(settings.productId, defaults.productId);
  EXPECT_EQ(settings.serverHost, "uploads.example");
  EXPECT_EQ(settings.serverPort, 8080);
  EXPECT_EQ(settings.errorPath, defaults.errorPath);
  EXPECT_EQ(settings.proxy.selection, 2);
  EXPECT_EQ(settings.proxy.serverOverride, "proxy.example:3128");
}

}  // namespace
}  // namespace Pellux
