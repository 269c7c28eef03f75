// The rebooter against the "Pellux" service under Wine's service manager (the whole service,
// with a virtual base station in its process), and the whole recovery: the service's watchdog
// relaunches through the real rebooter64.exe beside it, and the service comes back in a new
// process and uploads again. Wine lists no USB devices, so every device restart finds none.
// Wine's prefix is 64-bit Windows, where the service of either build starts rebooter64.exe.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "service/service_name.h"
#include "sim/reference_server.h"
#include "tests/service/program_runner_win.h"
#include "tests/service/px_service_host_seam_win.h"
#include "tests/service/service_under_test_win.h"
#include "ui/settings/registry_settings_store_win.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* kRunning = "The Pellux Data Uploader service is running.\n";
constexpr const char* kStopped = "The Pellux Data Uploader service is stopped.\n";
constexpr const char* kNoDevice = "Failed to restart base station:  device not found\n";

Ran Host(const std::string& switchText) {
  return RunProgramAt(ProgramBeside("px_service_host.exe"), switchText);
}

Ran Rebooter(const std::string& arguments) {
  return RunProgramAt(ProgramBeside("rebooter64.exe"), arguments);
}

long long MillisecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// The running service's process id; 0 while it is not running.
DWORD RunningServiceProcess() {
  const auto state = QueryInstalledService(kPelluxServiceName);
  return state && state->state == SERVICE_RUNNING ? state->processId : 0;
}

bool ProcessEnded(DWORD processId) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return true;
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

// A process of no importance that would live for a minute: this program, running only its
// disabled sleeper test, with no output streams.
PROCESS_INFORMATION StartBystander() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string line = std::string("\"") + self +
                     "\" --gtest_filter=RebooterBystander.DISABLED_LivesForAMinute"
                     " --gtest_also_run_disabled_tests";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process) == 0) {
    ADD_FAILURE() << "CreateProcessA failed: " << GetLastError();
  }
  return process;
}

TEST(RebooterBystander, DISABLED_LivesForAMinute) {
  Sleep(60000);
}

// A rebooter build and what its image must say: the 64-bit build runs as invoked (the service
// starts it as LocalSystem), the 32-bit one asks for administrator rights; both without a window.
struct RebooterImage {
  const char* file;
  const char* level;
  WORD machine;
};

// The rebooters beside this program: rebooter64.exe, which the service starts on 64-bit Windows
// whatever its own build (the i686 build's tests take it from the x86_64 build, as the installer
// ships it beside the i686 service), and, in the i686 build, that build's own rebooter.exe.
std::vector<RebooterImage> RebootersBeside() {
  std::vector<RebooterImage> images{{"rebooter64.exe", "asInvoker", IMAGE_FILE_MACHINE_AMD64}};
#if !defined(_WIN64)
  images.push_back({"rebooter.exe", "requireAdministrator", IMAGE_FILE_MACHINE_I386});
#endif
  return images;
}

TEST(RebooterProgramTest, EachBuildAsksForItsLevelInTheWindowsSubsystem) {
  for (const RebooterImage& expected : RebootersBeside()) {
    SCOPED_TRACE(expected.file);
    const std::string program = ProgramBeside(expected.file);
    HMODULE image = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr) << GetLastError();
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr) << GetLastError();
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    const std::string manifest(bytes, SizeofResource(image, found));
    EXPECT_NE(
        manifest.find(std::string("<requestedExecutionLevel level=\"") + expected.level + "\""),
        std::string::npos)
        << manifest;
    FreeLibrary(image);

    // The PE signature and file header, then the optional header of either size: the
    // subsystem field lies at the same offset in both.
    HANDLE file = CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    IMAGE_OPTIONAL_HEADER32 optional{};
    DWORD read = 0;
    ASSERT_NE(ReadFile(file, &dos, sizeof dos, &read, nullptr), 0);
    SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN);
    ASSERT_NE(ReadFile(file, &signature, sizeof signature, &read, nullptr), 0);
    ASSERT_NE(ReadFile(file, &header, sizeof header, &read, nullptr), 0);
    ASSERT_NE(ReadFile(file, &optional, sizeof optional, &read, nullptr), 0);
    CloseHandle(file);
    EXPECT_EQ(signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(header.Machine, expected.machine);
    EXPECT_EQ(optional.Magic, expected.machine == IMAGE_FILE_MACHINE_AMD64
                                  ? IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                  : IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  }
}

// Each test starts with the service installed and running, uploading to a reference server.
class RebooterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new ReferenceServer();
    RegistrySettingsStore settings([](const std::string& line) { ADD_FAILURE() << line; });
    settings.WriteText("Tracker", "ServerHost", "127.0.0.1");
    settings.WriteNumber("Tracker", "ServerPort", server_->Port());
    settings.WriteText("Tracker", "ErrorHost", "127.0.0.1");
    settings.WriteNumber("Tracker", "ErrorPort", server_->Port());
    settings.WriteNumber("Tracker", "LogActivity", 1);
    settings.WriteNumber("Tracker", "MaxLogDays", 1);
  }
  static void TearDownTestSuite() {
    server_->Stop();
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(Host("/I").err, "");
    ASSERT_EQ(Host("/S").err, "The Pellux Data Uploader service has started.\n");
    ASSERT_TRUE(Eventually([this] { return (service_ = RunningServiceProcess()) != 0; }));
  }
  void TearDown() override {
    Host("/P");
    Host("/U");
    ASSERT_TRUE(Eventually([] { return !QueryInstalledService(kPelluxServiceName); }));
  }

  static ReferenceServer* server_;
  DWORD service_ = 0;  // the service's process at the start of the test
};

ReferenceServer* RebooterTest::server_ = nullptr;

TEST_F(RebooterTest, WithIdsAndProcessItStopsEndsRestartsWaitsAndStartsTheService) {
  const auto started = SteadyClock::now();
  const Ran ran = Rebooter("fcf 1004 " + std::to_string(service_));
  const long long took = MillisecondsSince(started);
  EXPECT_EQ(ran.exitCode, 0u);
  EXPECT_EQ(ran.err, kNoDevice);
  EXPECT_EQ(ran.out, kRunning);
  // The station's pause of 2000 ms came before the start.
  EXPECT_GE(took, 2000);
  EXPECT_TRUE(ProcessEnded(service_));
  const DWORD now = RunningServiceProcess();
  EXPECT_NE(now, 0u);
  EXPECT_NE(now, service_);
}

TEST_F(RebooterTest, WithOnlyTheIdsItRestartsTheStationButEndsNoProcess) {
  const PROCESS_INFORMATION bystander = StartBystander();
  const auto started = SteadyClock::now();
  const Ran ran = Rebooter(" 0x0fcf +1004");
  const long long took = MillisecondsSince(started);
  EXPECT_EQ(ran.exitCode, 0u);
  EXPECT_EQ(ran.err, kNoDevice);
  EXPECT_EQ(ran.out, kRunning);
  EXPECT_GE(took, 2000);
  EXPECT_EQ(WaitForSingleObject(bystander.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  const DWORD now = RunningServiceProcess();
  EXPECT_NE(now, 0u);
  EXPECT_NE(now, service_);
  TerminateProcess(bystander.hProcess, 1);
  CloseHandle(bystander.hProcess);
  CloseHandle(bystander.hThread);
}

TEST_F(RebooterTest, WithoutArgumentsItOnlyStopsAndStartsTheService) {
  const Ran ran = Rebooter("");
  EXPECT_EQ(ran.exitCode, 0u);
  EXPECT_EQ(ran.err, "");
  EXPECT_EQ(ran.out, kRunning);
  const DWORD now = RunningServiceProcess();
  EXPECT_NE(now, 0u);
  EXPECT_NE(now, service_);
}

// Started with the id of a process that is not the service's (the id the service gave may
// belong to another process by the time the service has stopped), the rebooter ends nothing.
TEST_F(RebooterTest, AProcessThatIsNotTheServicesIsNeverEnded) {
  const PROCESS_INFORMATION bystander = StartBystander();
  const Ran ran = Rebooter("fcf 1004 " + std::to_string(bystander.dwProcessId));
  EXPECT_EQ(ran.out, kRunning);
  EXPECT_EQ(ran.err, "Process " + std::to_string(bystander.dwProcessId) +
                         " is not the Pellux service's process (" + std::to_string(service_) +
                         "): it is not ended\n" + kNoDevice);
  EXPECT_EQ(WaitForSingleObject(bystander.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(ProcessEnded(service_));
  TerminateProcess(bystander.hProcess, 1);
  CloseHandle(bystander.hProcess);
  CloseHandle(bystander.hThread);
}

TEST_F(RebooterTest, WithTheServiceGoneItTellsWhyAndSaysStopped) {
  Host("/P");
  Host("/U");
  ASSERT_TRUE(Eventually([] { return !QueryInstalledService(kPelluxServiceName); }));
  // Garbage reads as 0, and there is no process 0 to open.
  const Ran ran = Rebooter("zz -1 0");
  EXPECT_EQ(ran.exitCode, 0u);
  EXPECT_EQ(ran.out, kStopped);
  EXPECT_NE(ran.err.find("OpenServiceA(Pellux) failed"), std::string::npos) << ran.err;
  EXPECT_NE(ran.err.find("Failed to restart base station:  "), std::string::npos) << ran.err;
}

// The recovery as it happens in the field: the base station falls silent, the watchdog asks the
// user interface to relaunch, the rebooter beside the service stops it, ends its process and
// starts it again, and the new process links the tracker and uploads.
TEST_F(RebooterTest, TheWatchdogRelaunchesThroughTheRebooterAndTheServiceUploadsAgain) {
  ASSERT_TRUE(server_->WaitForRequests(1, 30s)) << "the service never uploaded";
  HANDLE hang = nullptr;
  ASSERT_TRUE(Eventually([&] {
    hang = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHangEventName);
    return hang != nullptr;
  }));
  const auto silent = SteadyClock::now();
  ASSERT_NE(SetEvent(hang), 0);
  CloseHandle(hang);

  // The watchdog's round comes within 15 s; the rebooter then stops the service.
  ASSERT_TRUE(Eventually([this] { return RunningServiceProcess() != service_; }, 60s));
  const long long relaunched = MillisecondsSince(silent);
  const auto stopped = SteadyClock::now();
  DWORD now = 0;
  ASSERT_TRUE(Eventually([&] { return (now = RunningServiceProcess()) != 0; }, 90s));
  const long long running = MillisecondsSince(stopped);
  const std::size_t uploads = server_->Requests().size();
  ASSERT_TRUE(Eventually([&] { return server_->Requests().size() > uploads; }, 60s))
      << "the new service never uploaded";
  const long long uploading = MillisecondsSince(stopped);
  EXPECT_NE(now, service_);
  EXPECT_TRUE(ProcessEnded(service_));

  const std::string logs = AllActivityLogs();
  EXPECT_NE(logs.find("[WATCHDOG] Communication manager has been idle for "), std::string::npos);
  const std::string line = "Relaunching application:  \"" + ProgramBeside("rebooter64.exe") +
                           "\" 10c4 84c4 " + std::to_string(service_);
  EXPECT_NE(logs.find(line), std::string::npos) << line << "\n" << logs;

  std::printf(
      "recovery under Wine: watchdog relaunch %lld ms after the silence began; service running "
      "again %lld ms and uploading %lld ms after it left the running state\n",
      relaunched, running, uploading);
  RecordProperty("relaunch_ms", std::to_string(relaunched));
  RecordProperty("running_again_ms", std::to_string(running));
  RecordProperty("uploading_again_ms", std::to_string(uploading));
}

}  // namespace
}  // namespace Pellux
