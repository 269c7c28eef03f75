// The three loaders: every function bound from the program's own folder, the process-wide
// instances, and (through a child program copied into folders of its own) a missing library,
// a missing function, and a library planted in the current directory or on PATH.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/cm_library_win.h"
#include "device/library_path_win.h"
#include "device/libusb_library_win.h"
#include "device/silabs_library_win.h"

namespace Pellux {
namespace {

namespace fs = std::filesystem;

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

TEST(BridgeLibraryTest, TheBridgeLibraryComesFromTheProgramFolderWithEveryFunction) {
  const std::unique_ptr<SiLabsLibrary> library = SiLabsLibrary::Create();
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(SamePath(ModulePath(library->Module()), ProgramFolder() + SiLabsLibrary::kFileName));
  const std::vector<bool> bound{library->SI_Open != nullptr,
                                library->SI_GetNumDevices != nullptr,
                                library->SI_Close != nullptr,
                                library->SI_Read != nullptr,
                                library->SI_Write != nullptr,
                                library->SI_SetTimeouts != nullptr,
                                library->SI_GetTimeouts != nullptr,
                                library->SI_SetBaudRate != nullptr,
                                library->SI_SetLineControl != nullptr,
                                library->SI_SetFlowControl != nullptr,
                                library->SI_FlushBuffers != nullptr,
                                library->SI_CheckRXQueue != nullptr,
                                library->SI_GetProductString != nullptr};
  EXPECT_EQ(bound, std::vector<bool>(13, true));
}

TEST(BridgeLibraryTest, TheManufacturingLibraryComesFromTheProgramFolderWithEveryFunction) {
  const std::unique_ptr<CMLibrary> library = CMLibrary::Create();
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(SamePath(ModulePath(library->Module()), ProgramFolder() + CMLibrary::kFileName));
  EXPECT_NE(library->CP210x_GetDeviceProductString, nullptr);
  EXPECT_NE(library->CP210x_GetDeviceSerialNumber, nullptr);
  EXPECT_NE(library->CP210x_GetDeviceVid, nullptr);
  EXPECT_NE(library->CP210x_GetDevicePid, nullptr);
  EXPECT_NE(library->CP210x_Reset, nullptr);
}

TEST(BridgeLibraryTest, LibusbComesFromTheProgramFolderWithEveryFunction) {
  const std::unique_ptr<LibusbLibrary> library = LibusbLibrary::Create();
  ASSERT_NE(library, nullptr);
  EXPECT_TRUE(SamePath(ModulePath(library->Module()), ProgramFolder() + LibusbLibrary::kFileName));
  const std::vector<bool> bound{library->usb_claim_interface != nullptr,
                                library->usb_get_busses != nullptr,
                                library->usb_clear_halt != nullptr,
                                library->usb_get_string_simple != nullptr,
                                library->usb_close != nullptr,
                                library->usb_reset != nullptr,
                                library->usb_init != nullptr,
                                library->usb_find_busses != nullptr,
                                library->usb_find_devices != nullptr,
                                library->usb_open != nullptr,
                                library->usb_release_interface != nullptr,
                                library->usb_interrupt_write != nullptr,
                                library->usb_bulk_read != nullptr,
                                library->usb_device != nullptr,
                                library->usb_set_configuration != nullptr,
                                library->usb_set_debug != nullptr};
  EXPECT_EQ(bound, std::vector<bool>(16, true));
}

TEST(BridgeLibraryTest, TheFirstInstanceMadeKeepsTheLibraryLoadedForTheProcess) {
  const std::wstring path = ProgramFolder() + SiLabsLibrary::kFileName;
  HMODULE module = nullptr;
  {
    const std::unique_ptr<SiLabsLibrary> library = SiLabsLibrary::Create();
    ASSERT_NE(library, nullptr);
    module = library->Module();
    ASSERT_NE(SiLabsLibrary::ProcessInstance(), nullptr);
    EXPECT_EQ(SiLabsLibrary::ProcessInstance()->Module(), module);
    EXPECT_NE(SiLabsLibrary::ProcessInstance(), library.get());
  }
  // This instance unloaded its own hold; the process-wide one still has the library.
  EXPECT_EQ(GetModuleHandleW(path.c_str()), module);
  const std::unique_ptr<CMLibrary> manufacturing = CMLibrary::Create();
  const std::unique_ptr<LibusbLibrary> libusb = LibusbLibrary::Create();
  EXPECT_NE(CMLibrary::ProcessInstance(), nullptr);
  EXPECT_NE(LibusbLibrary::ProcessInstance(), nullptr);
}

TEST(LibraryPathTest, OnlyFullPathsAreLoaded) {
  EXPECT_EQ(LoadLibraryByFullPath(L"DSI_SiUSBXp_3_1.DLL"), nullptr);
  EXPECT_EQ(LoadLibraryByFullPath(L".\\DSI_SiUSBXp_3_1.DLL"), nullptr);
  EXPECT_EQ(LoadLibraryByFullPath(L""), nullptr);
  const HMODULE kernel = LoadLibraryByFullPath(SystemFolder() + L"kernel32.dll");
  EXPECT_NE(kernel, nullptr);
  if (kernel != nullptr) FreeLibrary(kernel);
  EXPECT_FALSE(ProgramFolder().empty());
  EXPECT_EQ(ProgramFolder().back(), L'\\');
}

// --- The child program in folders of its own ---

// Folders under the temporary folder, removed with everything in them when this goes.
class Scenario {
 public:
  Scenario() {
    static std::atomic<int> counter{0};
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    root_ = fs::path(temp) / ("pellux-loaders-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(counter++));
    fs::create_directories(root_);
  }
  Scenario(const Scenario&) = delete;
  Scenario& operator=(const Scenario&) = delete;
  ~Scenario() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Folder(const std::string& name) {
    const fs::path folder = root_ / name;
    fs::create_directories(folder);
    return folder;
  }

  // Copies files of the test program's folder (or of its "missing_function" folder).
  static void Copy(const std::vector<std::wstring>& names, const fs::path& to,
                   const std::wstring& from = L"") {
    for (const std::wstring& name : names) {
      fs::copy_file(fs::path(ProgramFolder() + from) / name, to / name,
                    fs::copy_options::overwrite_existing);
    }
  }

  // Runs the probe copied into `programFolder`, in `currentDirectory`, with `pathFolder`
  // first on PATH when given; the report's "key=value" lines.
  std::map<std::string, std::string> Run(const fs::path& programFolder,
                                         const fs::path& currentDirectory,
                                         const fs::path& pathFolder = {}) {
    fs::copy_file(fs::path(ProgramFolder()) / L"probe" / L"loader_probe.exe",
                  programFolder / L"loader_probe.exe", fs::copy_options::overwrite_existing);
    const fs::path report = root_ / "report.txt";
    fs::remove(report);
    std::wstring oldPath(32768, L'\0');
    oldPath.resize(
        GetEnvironmentVariableW(L"PATH", oldPath.data(), static_cast<DWORD>(oldPath.size())));
    if (!pathFolder.empty()) {
      SetEnvironmentVariableW(L"PATH", (pathFolder.wstring() + L";" + oldPath).c_str());
    }
    std::wstring command = L"\"" + (programFolder / L"loader_probe.exe").wstring() + L"\" \"" +
                           report.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       currentDirectory.wstring().c_str(), &startup, &process);
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    std::map<std::string, std::string> values;
    if (!started) {
      ADD_FAILURE() << "the probe did not start: " << GetLastError();
      return values;
    }
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0U);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::ifstream lines(report);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    EXPECT_EQ(values["end"], "1") << "the probe's report is incomplete";
    return values;
  }

 private:
  fs::path root_;
};

const std::vector<std::wstring> kAllThree{L"DSI_SiUSBXp_3_1.DLL",
                                          L"DSI_CP210xManufacturing_3_1.dll", L"libusb0.dll"};

TEST(LoaderScenarioTest, EverythingBesideTheProgramIsFound) {
  Scenario scenario;
  const fs::path program = scenario.Folder("program");
  Scenario::Copy(kAllThree, program);
  auto report = scenario.Run(program, program);
  EXPECT_EQ(report["silabs"], "0");
  EXPECT_EQ(report["cm"], "0");
  EXPECT_EQ(report["libusb"], "0");
  EXPECT_EQ(report["bridge_devices"], "1");
  EXPECT_EQ(report["libusb_devices"], "3");
  EXPECT_EQ(report["candidates"], "10C4:84C4/1,0FCF:1004/2,1915:0101/2");
  EXPECT_EQ(report["autoinit"], "1");
  EXPECT_EQ(report["restart"], "none");
}

TEST(LoaderScenarioTest, WithoutTheBridgeLibraryOnlyLibusbStationsAreListedAndAutoInitRestarts) {
  Scenario scenario;
  const fs::path program = scenario.Folder("program");
  Scenario::Copy({L"DSI_CP210xManufacturing_3_1.dll", L"libusb0.dll"}, program);
  auto report = scenario.Run(program, program);
  EXPECT_EQ(report["silabs"], "1");
  EXPECT_EQ(report["cm"], "0");
  EXPECT_EQ(report["bridge_devices"], "0");
  // Of the three libusb devices, those of 0x0FCF and 0x1915.
  EXPECT_EQ(report["candidates"], "0FCF:1004/2,1915:0101/2");
  EXPECT_EQ(report["autoinit"], "0");
  EXPECT_EQ(report["restart"], "@USB\\VID_0FCF&PID_1004\\*");
}

TEST(LoaderScenarioTest, ABridgeLibraryMissingAFunctionMakesTheBridgeFamilyAbsent) {
  Scenario scenario;
  const fs::path program = scenario.Folder("program");
  Scenario::Copy({L"DSI_SiUSBXp_3_1.DLL"}, program, L"missing_function\\");
  Scenario::Copy({L"DSI_CP210xManufacturing_3_1.dll", L"libusb0.dll"}, program);
  auto report = scenario.Run(program, program);
  EXPECT_EQ(report["silabs"], "2");
  EXPECT_EQ(report["bridge_devices"], "0");
  EXPECT_EQ(report["candidates"], "0FCF:1004/2,1915:0101/2");
  EXPECT_EQ(report["autoinit"], "0");
  EXPECT_EQ(report["restart"], "@USB\\VID_0FCF&PID_1004\\*");
}

TEST(LoaderScenarioTest, ManufacturingAndLibusbLibrariesMissingAFunctionAreAbsentToo) {
  Scenario scenario;
  const fs::path program = scenario.Folder("program");
  Scenario::Copy({L"DSI_SiUSBXp_3_1.DLL"}, program);
  Scenario::Copy({L"DSI_CP210xManufacturing_3_1.dll", L"libusb0.dll"}, program,
                 L"missing_function\\");
  auto report = scenario.Run(program, program);
  EXPECT_EQ(report["silabs"], "0");
  EXPECT_EQ(report["cm"], "2");
  EXPECT_EQ(report["libusb"], "2");
  EXPECT_EQ(report["libusb_devices"], "0");
  // The bridge is listed, but cannot be opened without its probe and reset.
  EXPECT_EQ(report["candidates"], "10C4:84C4/1");
  EXPECT_EQ(report["autoinit"], "0");
}

TEST(LoaderScenarioTest, LibrariesPlantedInTheCurrentDirectoryAreNotLoaded) {
  Scenario scenario;
  const fs::path program = scenario.Folder("program");
  const fs::path planted = scenario.Folder("current");
  Scenario::Copy(kAllThree, planted);
  auto report = scenario.Run(program, planted);
  EXPECT_EQ(report["silabs"], "1");
  EXPECT_EQ(report["cm"], "1");
  EXPECT_EQ(report["libusb"], "1");
  EXPECT_EQ(report["bridge_devices"], "0");
  EXPECT_EQ(report["candidates"], "");
  // A bare name would have found the planted copy; with it in memory, still not ours.
  EXPECT_EQ(report["bare_load"], "1");
  EXPECT_EQ(report["silabs_after_bare"], "1");
}

TEST(LoaderScenarioTest, LibrariesPlantedOnThePathAreNotLoaded) {
  Scenario scenario;
  const fs::path program = scenario.Folder("program");
  const fs::path current = scenario.Folder("current");
  const fs::path planted = scenario.Folder("on-path");
  Scenario::Copy(kAllThree, planted);
  auto report = scenario.Run(program, current, planted);
  EXPECT_EQ(report["silabs"], "1");
  EXPECT_EQ(report["cm"], "1");
  EXPECT_EQ(report["libusb"], "1");
  EXPECT_EQ(report["candidates"], "");
  EXPECT_EQ(report["bare_load"], "1");
  EXPECT_EQ(report["silabs_after_bare"], "1");
}

}  // namespace
}  // namespace Pellux
