// The activity log's folder on Windows against folders and files planted by someone else, under
// Wine: links in place of the folders or files, the folders' access list, their owners.
//
// Wine (8 at least) makes neither junctions nor symbolic links through the Windows calls
// (CreateSymbolicLinkW does nothing, FSCTL_SET_REPARSE_POINT is not supported). It shows a
// symbolic link of the file system beneath it as a reparse point where the link names a
// folder, and follows every link in every path. So a link is planted as Windows makes one
// and, where that does not work, by the system's ln, which Wine runs as a program of the
// machine beneath. Wine keeps no security descriptor of a file either, only the Unix mode it
// derives from one, and shows every file as owned by the one user it runs all programs as.

#include "ui/log/app_data_log_folder_win.h"

#include <aclapi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/ui/log/memory_log_folder.h"
#include "tests/ui/log/temp_folder.h"
#include "ui/log/activity_log.h"

namespace Pellux {
namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::Eq;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const char* const kLevels[] = {"Pellux", "Tracker", "logs"};

// Every file below `root`, without following links.
std::vector<fs::path> FilesBelow(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

bool IsReparsePoint(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

enum class LinkKind { kJunction, kSymbolicLink };

// A junction's reparse data, as FSCTL_SET_REPARSE_POINT takes it: the target in its NT form,
// then as printed.
struct MountPointData {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset;
  WORD substituteLength;
  WORD printOffset;
  WORD printLength;
  WCHAR paths[1024];
};

bool PlantJunction(const fs::path& link, const fs::path& target) {
  if (CreateDirectoryW(link.c_str(), nullptr) == 0) return false;
  const HANDLE folder =
      CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool made = false;
  if (folder != INVALID_HANDLE_VALUE) {
    const std::wstring substitute = L"\\??\\" + target.wstring();
    const std::wstring print = target.wstring();
    MountPointData data{};
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteLength = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    data.printOffset = static_cast<WORD>(data.substituteLength + sizeof(WCHAR));
    data.printLength = static_cast<WORD>(print.size() * sizeof(WCHAR));
    std::memcpy(data.paths, substitute.c_str(), data.substituteLength);
    std::memcpy(reinterpret_cast<char*>(data.paths) + data.printOffset, print.c_str(),
                data.printLength);
    // The four offsets and lengths, both paths and their terminators.
    data.dataLength =
        static_cast<WORD>(4 * sizeof(WORD) + data.printOffset + data.printLength + sizeof(WCHAR));
    DWORD returned = 0;
    made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data,
                           data.dataLength + 2 * sizeof(WORD) + sizeof(DWORD), nullptr, 0,
                           &returned, nullptr) != 0;
    CloseHandle(folder);
  }
  if (!made) RemoveDirectoryW(link.c_str());
  return made && IsReparsePoint(link);
}

bool PlantSymbolicLink(const fs::path& link, const fs::path& target) {
  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE: no privilege needed in developer mode.
  constexpr DWORD kUnprivileged = 0x2;
  const DWORD flags =
      (fs::is_directory(target) ? SYMBOLIC_LINK_FLAG_DIRECTORY : DWORD{0}) | kUnprivileged;
  return CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) != 0 &&
         GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Waits a few seconds at most for `done`.
template <typename Done>
bool Eventually(Done done) {
  for (int round = 0; round < 500; ++round) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Whether a directory entry named `path` is there, whatever it leads to.
bool EntryExists(const fs::path& path) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// The machine beneath Wine: its names for our paths, and its programs. Empty names and false
// where this is no Wine.
class UnixBeneath {
 public:
  UnixBeneath() {
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    unixName_ = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    dosName_ = reinterpret_cast<DosName>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")));
  }

  // The name of `path` beneath, also for a last part that is not there.
  [[nodiscard]] std::string NameOf(const fs::path& path) const {
    if (unixName_ == nullptr) return {};
    char* parent = unixName_(path.parent_path().c_str());
    if (parent == nullptr) return {};
    std::string name = std::string(parent) + "/" + path.filename().string();
    HeapFree(GetProcessHeap(), 0, parent);
    return name;
  }

  // Starts /bin/`program` with `arguments`. Wine cannot wait for a program of the machine
  // beneath: the caller waits for what it does.
  [[nodiscard]] bool Start(const std::string& program,
                           const std::vector<std::string>& arguments) const {
    if (dosName_ == nullptr) return false;
    WCHAR* path = dosName_(("/bin/" + program).c_str());
    if (path == nullptr) return false;
    std::wstring command = fs::path(program).wstring();
    for (const std::string& argument : arguments) {
      command += L" \"" + fs::path(argument).wstring() + L"\"";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(path, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
    HeapFree(GetProcessHeap(), 0, path);
    if (started == 0) return false;
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    return true;
  }

 private:
  using UnixName = char*(CDECL*)(const WCHAR*);
  using DosName = WCHAR*(CDECL*)(const char*);
  UnixName unixName_ = nullptr;
  DosName dosName_ = nullptr;
};

// The links a test plants, removed (the links, not what they lead to) when it ends: a
// junction or a symbolic link as Windows makes them, else, under Wine, one of the file system
// beneath. Wine deletes what a link leads to rather than the link, and cannot delete a link
// that leads nowhere, so those go the way they came.
class PlantedLinks {
 public:
  PlantedLinks() = default;
  PlantedLinks(const PlantedLinks&) = delete;
  PlantedLinks& operator=(const PlantedLinks&) = delete;
  ~PlantedLinks() {
    for (auto each = links_.rbegin(); each != links_.rend(); ++each) {
      if (each->beneath) {
        if (unix_.Start("rm", {"-f", unix_.NameOf(each->path)})) {
          Eventually([&] { return !EntryExists(each->path); });
        }
      } else if (RemoveDirectoryW(each->path.c_str()) == 0) {
        DeleteFileW(each->path.c_str());
      }
    }
  }

  // Plants a link at `link` that leads to `target`; false when none could be made.
  bool Plant(const fs::path& link, const fs::path& target, LinkKind kind) {
    if ((kind == LinkKind::kJunction && fs::is_directory(target) && PlantJunction(link, target)) ||
        PlantSymbolicLink(link, target)) {
      links_.push_back({link, false});
      return true;
    }
    const std::string name = unix_.NameOf(link);
    if (name.empty() || !unix_.Start("ln", {"-s", unix_.NameOf(target), name})) return false;
    links_.push_back({link, true});
    return Eventually([&] { return EntryExists(link); });
  }

 private:
  struct Link {
    fs::path path;
    bool beneath;
  };
  UnixBeneath unix_;
  std::vector<Link> links_;
};

class AppDataLogFolderTest : public ::testing::Test {
 protected:
  AppDataLogFolderTest() {
    PinTimeZone("XYZ-2");
    settings_.WriteNumber("Tracker", "LogActivity", 1);
    settings_.WriteNumber("Tracker", "MaxLogDays", 7);
  }
  ActivityLog MakeLog(const Clock& clock) {
    return {settings_, folder_, debug_, clock, "1.2.0", nullptr};
  }
  std::vector<std::string> DebugTexts() const {
    std::vector<std::string> texts;
    for (const auto& line : debug_.Lines()) texts.push_back(line.text);
    return texts;
  }
  // A clock for which every file made now is older than the log's days.
  static VirtualClock MonthAhead() {
    return VirtualClock(std::chrono::system_clock::now() + std::chrono::hours(24 * 30));
  }

  TempFolder temp_{true};
  // Removed before the folder they are in.
  PlantedLinks links_;
  AppDataLogFolder folder_{temp_.Root().string()};
  fs::path logs_ = temp_.Root() / "Pellux" / "Tracker" / "logs";
  MemorySettingsStore settings_;
  RecordingDebugOutput debug_;
};

// --- Links in place of the folders

struct PlantedFolder {
  const char* name;
  std::size_t level;  // of kLevels: the folder that is a link
  LinkKind kind;

  friend void PrintTo(const PlantedFolder& planted, std::ostream* out) { *out << planted.name; }
};

class PlantedFolderTest : public AppDataLogFolderTest,
                          public ::testing::WithParamInterface<PlantedFolder> {};

TEST_P(PlantedFolderTest, LinkInPlaceOfAFolderTakesNoFileThereAndLosesNone) {
  // The folders below the link are in the target, the log folder with an old log file.
  fs::path planted = temp_.Root();
  for (std::size_t level = 0; level < GetParam().level; ++level) planted /= kLevels[level];
  fs::create_directories(planted);
  planted /= kLevels[GetParam().level];
  const fs::path elsewhere = temp_.Root() / "elsewhere";
  fs::path target = elsewhere;
  for (std::size_t level = GetParam().level + 1; level < std::size(kLevels); ++level) {
    target /= kLevels[level];
  }
  fs::create_directories(target);
  const fs::path theirs = target / "log-20200101000000.txt";
  std::ofstream(theirs) << "not ours";
  ASSERT_TRUE(links_.Plant(planted, elsewhere, GetParam().kind)) << planted;

  const VirtualClock clock = MonthAhead();
  ActivityLog log = MakeLog(clock);
  EXPECT_FALSE(log.Open());
  EXPECT_FALSE(log.IsOpen());
  log.WriteLine("lost");
  EXPECT_THAT(FilesBelow(elsewhere), ElementsAre(theirs));
  EXPECT_EQ(ReadFile(theirs), "not ours");
  EXPECT_THAT(DebugTexts(), Contains("Activity log: refused: " + planted.string() +
                                     " is a reparse point (a junction or a symbolic link)"));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, PlantedFolderTest,
    ::testing::Values(PlantedFolder{"LogsJunction", 2, LinkKind::kJunction},
                      PlantedFolder{"LogsSymbolicLink", 2, LinkKind::kSymbolicLink},
                      PlantedFolder{"TrackerJunction", 1, LinkKind::kJunction},
                      PlantedFolder{"PelluxJunction", 0, LinkKind::kJunction},
                      PlantedFolder{"PelluxSymbolicLink", 0, LinkKind::kSymbolicLink}),
    [](const ::testing::TestParamInfo<PlantedFolder>& each) { return each.param.name; });

TEST_F(AppDataLogFolderTest, FileMadeThroughALinkIsDeletedAndNotUsed) {
  // The folder is swapped for a link after its checks: the file's handle tells.
  fs::create_directories(logs_.parent_path());
  const fs::path elsewhere = temp_.Root() / "elsewhere";
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "notes.txt") << "not ours";
  ASSERT_TRUE(links_.Plant(logs_, elsewhere, LinkKind::kJunction));

  std::unique_ptr<LogFile> file;
  std::string path;
  FolderFailure failure;
  EXPECT_EQ(folder_.CreateNew("log-20260101020000.txt", file, path, failure),
            LogFolder::CreateResult::kFailed);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(failure.code, static_cast<unsigned long>(ERROR_ACCESS_DENIED));
  EXPECT_THAT(failure.line, StartsWith("refused: " + (logs_ / "log-20260101020000.txt").string() +
                                       " was made as "));
  EXPECT_THAT(failure.line, HasSubstr(", outside the log folder "));
  EXPECT_THAT(failure.line, EndsWith(": it is deleted and not used"));
  EXPECT_THAT(FilesBelow(elsewhere), ElementsAre(elsewhere / "notes.txt"));
}

// --- The cleanup

TEST_F(AppDataLogFolderTest, CleanupDeletesOldFilesThroughItsHandleAndNeverThroughALink) {
  FolderFailure failure;
  ASSERT_TRUE(folder_.Create(failure)) << failure.line;
  std::ofstream(logs_ / "log-1.txt") << "old";
  const fs::path elsewhere = temp_.Root() / "elsewhere";
  fs::create_directories(elsewhere / "folder");
  std::ofstream(elsewhere / "victim.txt") << "not ours";
  const fs::path fileLink = logs_ / "log-2.txt";
  const fs::path folderLink = logs_ / "log-3.txt";
  ASSERT_TRUE(links_.Plant(fileLink, elsewhere / "victim.txt", LinkKind::kSymbolicLink));
  ASSERT_TRUE(links_.Plant(folderLink, elsewhere / "folder", LinkKind::kJunction));

  {
    const VirtualClock clock = MonthAhead();
    ActivityLog log = MakeLog(clock);
    ASSERT_TRUE(log.Open());
  }
  EXPECT_FALSE(fs::exists(logs_ / "log-1.txt"));
  EXPECT_THAT(DebugTexts(),
              Contains("LOG CLEANUP: deleting '" + (logs_ / "log-1.txt").string() + "'"));
  // The links stay, and what they lead to.
  EXPECT_EQ(ReadFile(elsewhere / "victim.txt"), "not ours");
  EXPECT_TRUE(fs::is_directory(elsewhere / "folder"));
  EXPECT_NE(GetFileAttributesW(fileLink.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(folderLink.c_str()), INVALID_FILE_ATTRIBUTES);

  // Asked for them by name, the folder deletes neither.
  EXPECT_FALSE(folder_.Remove(fileLink.string(), failure));
  EXPECT_THAT(failure.line, StartsWith("refused: " + fileLink.string()));
  EXPECT_FALSE(folder_.Remove(folderLink.string(), failure));
  EXPECT_NE(failure.code, 0U);
  EXPECT_EQ(ReadFile(elsewhere / "victim.txt"), "not ours");
  EXPECT_TRUE(fs::is_directory(elsewhere / "folder"));
  EXPECT_NE(GetFileAttributesW(fileLink.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(AppDataLogFolderTest, RemoveDeletesOnlyFilesDirectlyInTheLogFolder) {
  FolderFailure failure;
  ASSERT_TRUE(folder_.Create(failure)) << failure.line;
  fs::create_directories(logs_ / "sub");
  std::ofstream(logs_ / "sub" / "log-1.txt") << "deeper";
  std::ofstream(temp_.Root() / "log-2.txt") << "above";
  for (const fs::path& outside : {logs_ / "sub" / "log-1.txt", temp_.Root() / "log-2.txt"}) {
    EXPECT_FALSE(folder_.Remove(outside.string(), failure)) << outside;
    EXPECT_THAT(failure.line, HasSubstr("outside the log folder")) << outside;
    EXPECT_TRUE(fs::exists(outside)) << outside;
  }
}

// --- The folders' access list and owners

struct Ace {
  std::string type;
  std::string rights;
  std::string trustee;
};

// The owner and the access list of `path` in SDDL, as the system reports them.
void DescriptorOf(const fs::path& path, std::string& owner, std::string& flags,
                  std::vector<Ace>& aces, std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                             nullptr, nullptr, nullptr, nullptr, &descriptor);
  ASSERT_EQ(status, static_cast<DWORD>(ERROR_SUCCESS)) << path;
  char* text = nullptr;
  ASSERT_NE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
                descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                &text, nullptr),
            0);
  sddl = text;
  LocalFree(text);
  LocalFree(descriptor);
  const std::smatch parts = [&] {
    std::smatch match;
    std::regex_match(sddl, match, std::regex("O:([^:]*)D:([^(]*)(.*)"));
    return match;
  }();
  ASSERT_EQ(parts.size(), 4U) << sddl;
  owner = parts[1];
  flags = parts[2];
  const std::string list = parts[3];
  const std::regex ace(R"re(\(([^;]*);[^;]*;([^;]*);[^;]*;[^;]*;([^;)]*)\))re");
  for (std::sregex_iterator each(list.begin(), list.end(), ace), end; each != end; ++each) {
    aces.push_back({(*each)[1], (*each)[2], (*each)[3]});
  }
}

// Whether this file system keeps a folder's whole descriptor (Windows) or only what it derives
// from it (Wine keeps the Unix mode).
bool KeepsDescriptors(const fs::path& place) {
  const char* const probe = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA(probe, SDDL_REVISION_1, &descriptor,
                                                           nullptr) == 0) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const fs::path folder = place / "probe";
  const bool made = CreateDirectoryW(folder.c_str(), &attributes) != 0;
  LocalFree(descriptor);
  if (!made) return false;
  std::string owner;
  std::string flags;
  std::vector<Ace> aces;
  std::string sddl;
  DescriptorOf(folder, owner, flags, aces, sddl);
  return flags.find('P') != std::string::npos &&
         sddl.find("(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)") != std::string::npos;
}

TEST_F(AppDataLogFolderTest, FoldersAreLocalSystemsAndTheAdministratorsAndOnlyReadByUsers) {
  FolderFailure failure;
  ASSERT_TRUE(folder_.Create(failure)) << failure.line;
  const bool kept = KeepsDescriptors(temp_.Root());
  if (!kept) {
    std::cout << "This file system keeps no security descriptors (Wine keeps the Unix mode): "
                 "the access lists are checked for what the mode can tell.\n";
  }
  fs::path path = temp_.Root();
  for (const char* level : kLevels) {
    path /= level;
    std::string owner;
    std::string flags;
    std::vector<Ace> aces;
    std::string sddl;
    DescriptorOf(path, owner, flags, aces, sddl);
    // Whoever owns the folder, only these are let in, and users only to read.
    EXPECT_FALSE(aces.empty()) << sddl;
    for (const Ace& ace : aces) {
      EXPECT_EQ(ace.type, "A") << sddl;
      EXPECT_THAT(ace.trustee, AnyOf(Eq("SY"), Eq("BA"), Eq("BU"), Eq(owner))) << sddl;
      if (ace.trustee == "BU") {
        EXPECT_THAT(ace.rights, AnyOf(Eq("0x1200a9"), Eq("FRFX"))) << sddl;
      }
    }
    if (kept) {
      EXPECT_THAT(flags, HasSubstr("P")) << sddl;
      EXPECT_THAT(sddl, EndsWith(std::string(AppDataLogFolder::kFolderSddl).substr(3))) << sddl;
    }
  }
}

TEST(AppDataLogFolderOwnerTest, OnlyLocalSystemTheAdministratorsOrTheServicesAccountOwnTheLog) {
  const std::string localSystem = "S-1-5-18";
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1000";
  struct Row {
    std::string owner;
    std::string processUser;
    bool trusted;
  };
  const Row rows[] = {
      {"S-1-5-18", localSystem, true},
      {"S-1-5-32-544", localSystem, true},
      {"S-1-5-32-544", user, true},
      {user, localSystem, false},
      {"S-1-5-21-1004336348-1177238915-682003330-1001", user, false},
      {"S-1-5-32-545", localSystem, false},  // the users
      {"S-1-1-0", localSystem, false},       // everyone
      {"S-1-5-11", localSystem, false},      // authenticated users
      {"S-1-3-0", localSystem, false},       // the creator owner
      {"S-1-5-18-1", localSystem, false},
      {"S-1-5-32-5440", localSystem, false},
      {"S-1-5-1", localSystem, false},
      {user, user, true},
      {"", "", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(AppDataLogFolder::IsTrustedOwner(row.owner, row.processUser), row.trusted)
        << row.owner << " for " << row.processUser;
  }
}

}  // namespace
}  // namespace Pellux
