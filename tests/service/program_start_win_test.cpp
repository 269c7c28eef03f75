// The service program's start under Wine: the default language refined by the user's nation,
// and the resource module taken from the program's own folder only, as an image resource.

#include "service/program_start_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "ui/win_message_strings_win.h"

namespace Pellux {
namespace {

constexpr const char* kKey = "Software\\Pellux\\Tracker";

void StoreLanguage(const char* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  if (value == nullptr) {
    RegDeleteValueA(key, "Language");
  } else {
    RegSetValueExA(key, "Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
  }
  RegCloseKey(key);
}

std::string StoredLanguage() {
  char text[64] = {};
  DWORD size = sizeof text;
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kKey, "Language", RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS) {
    return "(none)";
  }
  return text;
}

void NoProblem(const std::string& line) {
  ADD_FAILURE() << line;
}

std::string told;
void Tell(const std::string& line) {
  told += line + "\n";
}

TEST(ProgramStart, EnUsIsRefinedByTheNationAndOtherLanguagesAreLeftAlone) {
  const GEOID before = GetUserGeoID(GEOCLASS_NATION);
  ASSERT_NE(SetUserGeoID(183), 0) << "New Zealand";
  StoreLanguage("en_US");
  ApplyDefaultLanguage(NoProblem);
  EXPECT_EQ(StoredLanguage(), "en_NZ");
  ApplyDefaultLanguage(NoProblem);
  EXPECT_EQ(StoredLanguage(), "en_NZ") << "and it stays";
  StoreLanguage("de_DE");
  ApplyDefaultLanguage(NoProblem);
  EXPECT_EQ(StoredLanguage(), "de_DE");
  StoreLanguage(nullptr);
  ASSERT_NE(SetUserGeoID(242), 0) << "United Kingdom";
  ApplyDefaultLanguage(NoProblem);
  EXPECT_EQ(StoredLanguage(), "en_GB");
  ASSERT_NE(SetUserGeoID(244), 0) << "United States";
  StoreLanguage("en_US");
  ApplyDefaultLanguage(NoProblem);
  EXPECT_EQ(StoredLanguage(), "en_US");
  StoreLanguage(nullptr);
  SetUserGeoID(before);
}

TEST(ProgramStart, ResourceModuleIsTakenFromTheProgramsFolderOnly) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  const std::filesystem::path folder = std::filesystem::path(program).parent_path();
  const std::filesystem::path beside = folder / "UplinkerResources.dll";
  std::filesystem::remove(beside);
  // A copy in the current folder, or on PATH, is never taken.
  const std::filesystem::path elsewhere =
      std::filesystem::temp_directory_path() /
      ("pellux-planted-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(elsewhere);
  std::filesystem::copy_file(PELLUX_RESOURCE_DLL, elsewhere / "UplinkerResources.dll",
                             std::filesystem::copy_options::overwrite_existing);
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere);
  SetEnvironmentVariableA("PATH", elsewhere.string().c_str());
  EXPECT_EQ(LoadResourceModule(NoProblem), nullptr);
  EXPECT_EQ(GetModuleHandleA("UplinkerResources.dll"), nullptr);
  std::filesystem::current_path(cwd);

  std::filesystem::copy_file(PELLUX_RESOURCE_DLL, beside,
                             std::filesystem::copy_options::overwrite_existing);
  // Mapped as an image resource: its code never runs (its entry point would mark this process)
  // and it is no module of the process, but the string table reads from the handle.
  SetEnvironmentVariableA("PELLUX_RESOURCES_CODE_RAN", nullptr);
  const HMODULE module = LoadResourceModule(NoProblem);
  ASSERT_NE(module, nullptr);
  char ran[8] = {};
  EXPECT_EQ(GetEnvironmentVariableA("PELLUX_RESOURCES_CODE_RAN", ran, sizeof ran), 0U)
      << "the resource module's code ran";
  EXPECT_EQ(GetModuleHandleA("UplinkerResources.dll"), nullptr);
  EXPECT_EQ(WinMessageStrings(module).Text(101), "From the resources library: 101");
  EXPECT_EQ(WinMessageStrings(module).Text(103), "") << "its table only, gaps and all";
  FreeLibrary(module);

  // A file of that name that is no module is told with the system's reason, and not used.
  std::filesystem::remove(beside);
  std::ofstream(beside) << "not a module\n";
  told.clear();
  EXPECT_EQ(LoadResourceModule(Tell), nullptr);
  EXPECT_NE(told.find("LoadLibraryExW(UplinkerResources.dll) failed: error "), std::string::npos)
      << told;
  std::filesystem::remove(beside);
  std::filesystem::remove_all(elsewhere);
}

// The system libraries uplinker.exe needs come from the system folder, never from its own. Under
// Wine a copy of a system library beside a program is never loaded (Wine takes its own first),
// even without this care; told to prefer such a copy, Wine's own user32 (which imports
// version.dll, as Windows' does not) loads it. So what is tested is the care itself: the program
// imports at start only libraries the system keeps in its KnownDLLs (loaded from the system
// folder whatever the search order), and every library loaded by name afterwards is looked for
// in the system folder only.

// The lower-case names of the libraries `module` (mapped as an image) imports at start.
std::vector<std::string> StaticImports(HMODULE module) {
  const auto* base =
      reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(module) & ~ULONG_PTR{3});
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::vector<std::string> names;
  if (directory.VirtualAddress == 0) return names;
  for (const auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
       entry->Name != 0; ++entry) {
    std::string name(reinterpret_cast<const char*>(base + entry->Name));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    names.push_back(name);
  }
  return names;
}

TEST(ProgramStart, TheProgramImportsOnlyKnownDllsAtStart) {
  // Windows' KnownDLLs (HKLM\System\CurrentControlSet\Control\Session Manager\KnownDLLs), and
  // the C runtime, which is one of them.
  const std::set<std::string> known = {
      "advapi32.dll", "clbcatq.dll",  "combase.dll",  "comdlg32.dll", "coml2.dll",    "difxapi.dll",
      "gdi32.dll",    "gdiplus.dll",  "imagehlp.dll", "imm32.dll",    "kernel32.dll", "msctf.dll",
      "msvcrt.dll",   "normaliz.dll", "nsi.dll",      "ole32.dll",    "oleaut32.dll", "psapi.dll",
      "rpcrt4.dll",   "sechost.dll",  "setupapi.dll", "shcore.dll",   "shell32.dll",  "shlwapi.dll",
      "user32.dll",   "wldap32.dll",  "ws2_32.dll"};
  const std::filesystem::path program(PELLUX_UPLINKER_PATH);
  const HMODULE image = LoadLibraryExW(program.wstring().c_str(), nullptr,
                                       LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr) << GetLastError();
  const std::vector<std::string> imports = StaticImports(image);
  FreeLibrary(image);
  EXPECT_THAT(imports, testing::Contains("kernel32.dll")) << "the import table was read";
  for (const std::string& name : imports) {
    EXPECT_TRUE(known.contains(name)) << name << " would be looked for beside the program first";
  }
}

TEST(ProgramStart, LibrariesLoadedByNameComeFromTheSystemFolderOnly) {
  // A library of a name the system does not have, beside this program and in the current folder.
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::filesystem::path beside =
      std::filesystem::path(self).parent_path() / "pellux-planted-probe.dll";
  std::filesystem::copy_file(PELLUX_PLANTED_VERSION_DLL, beside,
                             std::filesystem::copy_options::overwrite_existing);
  const std::filesystem::path marker = beside.parent_path() / "planted-ran";
  std::filesystem::remove(marker);
  // Found by name as long as the usual search order holds.
  HMODULE found = LoadLibraryA("pellux-planted-probe.dll");
  ASSERT_NE(found, nullptr) << GetLastError();
  FreeLibrary(found);
  ASSERT_TRUE(std::filesystem::exists(marker));
  std::filesystem::remove(marker);

  RestrictLibrarySearch(NoProblem);
  found = LoadLibraryA("pellux-planted-probe.dll");
  const DWORD error = GetLastError();
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_FALSE(std::filesystem::exists(marker));
  // A system library is still found by name.
  const HMODULE system = LoadLibraryA("version.dll");
  EXPECT_NE(system, nullptr) << GetLastError();
  if (system != nullptr) FreeLibrary(system);
  if (found != nullptr) FreeLibrary(found);
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  std::filesystem::remove(beside);
  std::filesystem::remove(marker);
}

}  // namespace
}  // namespace Pellux
