// The doctor's Windows probes against the real thing under Wine: the stand-in bridge libraries
// beside the test (present, missing, built for another machine, no library at all), folders
// with and without the service's protected access list, the loopback reference server
// answering and refusing through WinInet, the service manager and the device manager.

#include <windows.h>
// after windows.h
#include <gtest/gtest.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "device/bridge_library_files.h"
#include "device/library_path_win.h"
#include "sim/reference_server.h"
#include "tools/pelluxctl/doctor/folder_access_probe.h"
#include "tools/pelluxctl/doctor/library_probe.h"
#include "tools/pelluxctl/doctor/server_probe.h"
#include "tools/pelluxctl/doctor/service_probe.h"
#include "tools/pelluxctl/doctor/station_probe.h"
#include "tools/pelluxctl/doctor/windows_checks.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// The folder the stand-ins were copied into, ending in a backslash.
std::string BridgeFolder() {
  return (std::filesystem::path(ProgramFolder()) / "bridge").string() + "\\";
}

// A folder of the test's own, removed at the end.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    path_ = std::filesystem::temp_directory_path() /
            ("pellux-doctor-" + std::to_string(GetCurrentProcessId()) + "-" +
             std::to_string(counter_++));
    std::filesystem::remove_all(path_);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }
  [[nodiscard]] std::string Folder() const { return path_.string() + "\\"; }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file << bytes;
}

TEST(DoctorWindowsLibraryProbe, TheStandInsArePresentOfOurMachineAndLoad) {
  const auto probe = LibraryProbe::CreateForPlatform();
  for (const BridgeLibraryFile& family : kBridgeLibraryFiles) {
    SCOPED_TRACE(family.name);
    const LibraryFacts facts = probe->Inspect(BridgeFolder(), family.name);
    ASSERT_EQ(facts.state, LibraryFacts::State::kPresent) << facts.error;
    ASSERT_TRUE(facts.image.has_value());
    EXPECT_TRUE(facts.image->library);
    EXPECT_EQ(facts.image->machine, probe->ProgramMachine());
    EXPECT_TRUE(facts.loaded) << facts.loadError;
  }
  for (const DoctorCheck& check : CheckBridgeLibraries(BridgeFolder(), *probe)) {
    EXPECT_EQ(check.status, DoctorStatus::kOk) << check.name << ": " << check.found;
  }
}

TEST(DoctorWindowsLibraryProbe, MissingOtherMachineAndNoLibraryAreToldApart) {
  const auto probe = LibraryProbe::CreateForPlatform();
  TemporaryFolder folder;
  std::filesystem::create_directories(folder.Path());
  // libusb0.dll missing; the SiLabs library patched to another machine; the CP210x library a
  // text file.
  std::string other = ReadAll(BridgeFolder() + kBridgeLibraryFiles[0].name);
  ASSERT_GT(other.size(), 0x40U);
  const auto at = static_cast<std::size_t>(static_cast<unsigned char>(other[0x3c])) |
                  static_cast<std::size_t>(static_cast<unsigned char>(other[0x3d])) << 8U;
  const std::uint16_t foreign = probe->ProgramMachine() == 0x8664 ? 0x014c : 0x8664;
  other[at + 4] = static_cast<char>(foreign & 0xffU);
  other[at + 5] = static_cast<char>(foreign >> 8U);
  WriteAll(folder.Path() / kBridgeLibraryFiles[0].name, other);
  WriteAll(folder.Path() / kBridgeLibraryFiles[1].name, "not a library\r\n");

  const LibraryFacts foreignFacts = probe->Inspect(folder.Folder(), kBridgeLibraryFiles[0].name);
  EXPECT_EQ(foreignFacts.state, LibraryFacts::State::kPresent);
  ASSERT_TRUE(foreignFacts.image.has_value());
  EXPECT_EQ(foreignFacts.image->machine, foreign);
  EXPECT_FALSE(foreignFacts.loaded);
  const LibraryFacts text = probe->Inspect(folder.Folder(), kBridgeLibraryFiles[1].name);
  EXPECT_EQ(text.state, LibraryFacts::State::kPresent);
  EXPECT_FALSE(text.image.has_value());
  const LibraryFacts missing = probe->Inspect(folder.Folder(), kBridgeLibraryFiles[2].name);
  EXPECT_EQ(missing.state, LibraryFacts::State::kMissing);
  EXPECT_NE(missing.error.find("CreateFileW("), std::string::npos) << missing.error;
  EXPECT_NE(missing.error.find("error 2"), std::string::npos) << missing.error;

  const auto checks = CheckBridgeLibraries(folder.Folder(), *probe);
  ASSERT_EQ(checks.size(), 3U);
  EXPECT_EQ(checks[0].status, DoctorStatus::kFail);
  EXPECT_NE(checks[0].found.find("is built for " + MachineName(foreign)), std::string::npos)
      << checks[0].found;
  EXPECT_EQ(checks[1].status, DoctorStatus::kFail);
  EXPECT_NE(checks[1].found.find("is no Windows library"), std::string::npos) << checks[1].found;
  EXPECT_EQ(checks[2].status, DoctorStatus::kWarn);
  EXPECT_NE(checks[2].found.find(kBridgeLibraryFiles[2].absent), std::string::npos)
      << checks[2].found;
}

// Makes `path` with the access list `sddl`, or the inherited one when it is null.
void MakeFolder(const std::filesystem::path& path, const char* sddl) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl != nullptr) {
    ASSERT_NE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                   &descriptor, nullptr),
              0);
    attributes.lpSecurityDescriptor = descriptor;
  }
  EXPECT_NE(CreateDirectoryW(path.wstring().c_str(), sddl != nullptr ? &attributes : nullptr), 0);
  if (descriptor != nullptr) LocalFree(descriptor);
}

TEST(DoctorWindowsFolderAccessProbe, ReadsTheProtectedListAndTellsAnInheritedOne) {
  const auto probe = FolderAccessProbe::CreateForPlatform();
  TemporaryFolder root;
  std::filesystem::create_directories(root.Path());
  const std::filesystem::path guarded = root.Path() / "guarded";
  const std::filesystem::path plain = root.Path() / "plain";
  MakeFolder(guarded, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
  MakeFolder(plain, nullptr);

  const FolderAccess access = probe->Read(guarded.string());
  ASSERT_EQ(access.state, FolderAccess::State::kRead) << access.error;
  EXPECT_FALSE(access.owner.empty());
  ASSERT_FALSE(access.entries.empty());
  if (!access.isProtected) {
    // Wine keeps a folder's descriptor only where the file system takes extended attributes;
    // elsewhere it makes one from the Unix mode, which the check rightly refuses.
    std::cout << "This file system keeps no security descriptors: the list read is Wine's "
                 "own, from the Unix mode.\n";
    EXPECT_EQ(CheckDataFolderAccess(guarded.string(), access).status, DoctorStatus::kFail);
  } else {
    // Wine keeps the full-control entries of the list (the users' read entry it may drop).
    ASSERT_GE(access.entries.size(), 2U);
    EXPECT_EQ(access.entries[0].sid, "S-1-5-18");
    EXPECT_EQ(access.entries[0].mask, 0x1f01ffU);
    EXPECT_TRUE(access.entries[0].allow);
    EXPECT_EQ(access.entries[1].sid, "S-1-5-32-544");
    // Wine's programs run as the same user as everything else, which owns what it makes: the
    // list is what the check holds to here.
    FolderAccess owned = access;
    owned.owner = "S-1-5-18";
    EXPECT_EQ(CheckDataFolderAccess(guarded.string(), owned).status, DoctorStatus::kOk);
  }

  const FolderAccess inherited = probe->Read(plain.string());
  ASSERT_EQ(inherited.state, FolderAccess::State::kRead) << inherited.error;
  EXPECT_FALSE(inherited.isProtected);

  const FolderAccess missing = probe->Read((root.Path() / "none").string());
  EXPECT_EQ(missing.state, FolderAccess::State::kMissing);
  EXPECT_NE(missing.error.find("GetNamedSecurityInfoW("), std::string::npos) << missing.error;
}

TEST(DoctorWindowsServerProbe, AnswersAndRefusalsThroughWinInet) {
  const auto probe = ServerProbe::CreateForPlatform();
  std::uint16_t port = 0;
  {
    ReferenceServer server;
    port = server.Port();
    const ServerAnswer answer =
        probe->Probe({"127.0.0.1", port, "/device/tracker/errors", ""}, 5000ms);
    EXPECT_EQ(answer.outcome, ServerAnswer::Outcome::kAnswered) << answer.detail;
    EXPECT_GE(answer.status, 200);
    EXPECT_LT(answer.status, 500);
  }
  // The server is gone: nothing listens on its port.
  const ServerAnswer refused = probe->Probe({"127.0.0.1", port, "/", ""}, 5000ms);
  EXPECT_EQ(refused.outcome, ServerAnswer::Outcome::kRefused) << refused.detail;
  EXPECT_NE(refused.detail.find("HttpSendRequestA failed: error 12029"), std::string::npos)
      << refused.detail;
  const ServerAnswer unresolved =
      probe->Probe({"pellux-no-such-host.invalid", 80, "/", ""}, 5000ms);
  EXPECT_EQ(unresolved.outcome, ServerAnswer::Outcome::kUnresolved) << unresolved.detail;
}

TEST(DoctorWindowsServiceProbe, TheServiceManagerAnswersForKnownAndUnknownServices) {
  const auto probe = ServiceProbe::CreateForPlatform();
  const UnitFacts unknown = probe->Unit("PelluxDoctorNoSuchService");
  EXPECT_TRUE(unknown.reached) << unknown.error;
  EXPECT_EQ(unknown.loadState, "not-found");
  EXPECT_EQ(CheckWindowsService(unknown).status, DoctorStatus::kFail);
  // Wine's own Plug and Play service is installed everywhere.
  const UnitFacts known = probe->Unit("PlugPlay");
  ASSERT_TRUE(known.reached) << known.error;
  EXPECT_EQ(known.loadState, "loaded");
  EXPECT_NE(known.program.find("plugplay.exe"), std::string::npos) << known.program;
  EXPECT_FALSE(known.unitFileState.empty());
  EXPECT_FALSE(known.activeState.empty());
}

TEST(DoctorWindowsStationProbe, TheDeviceManagerListsNoStationThatIsNotThere) {
  const auto probe = StationProbe::CreateForPlatform();
  const StationListing listing = probe->Ports(0x0fcf, 0x1008);
  ASSERT_TRUE(listing.listed) << listing.error;
  EXPECT_TRUE(listing.interfaces.empty());
  DoctorSettings settings;
  settings.vendorId = 0x0fcf;
  settings.productId = 0x1008;
  const DoctorCheck check = CheckStationListed(settings, listing);
  EXPECT_EQ(check.status, DoctorStatus::kWarn);
  EXPECT_EQ(check.found, "the device manager lists no USB device 0fcf:1008");
}

}  // namespace
}  // namespace Pellux
