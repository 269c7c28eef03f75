// The service program's start under Wine: the default language refined by the user's nation,
// and the resource module taken from the program's own folder only, as an image resource.

#include "service/program_start_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

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

}  // namespace
}  // namespace Pellux
