// The service switches end to end under Wine's service manager, with a sample service on the
// real Service class: /V and the usage, /I (quoted path, description, event source), /S to
// running, controls while it runs, /P to stopped, /U, and the failure messages.

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "service/service_win.h"
#include "tests/service/program_runner_win.h"

namespace Pellux {
namespace {

constexpr const char* kName = "PelluxSampleService";

std::string ProgramPath() {
  return ProgramBeside("sample_service.exe");
}

Ran RunProgram(const std::string& switchText) {
  return RunProgramAt(ProgramPath(), switchText);
}

DWORD StateOfService() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, kName, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const BOOL queried = service != nullptr && QueryServiceStatus(service, &status) != 0;
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return queried ? status.dwCurrentState : 0;
}

struct ExitCodes {
  DWORD win32 = 0;
  DWORD specific = 0;
  bool operator==(const ExitCodes&) const = default;
};
std::ostream& operator<<(std::ostream& out, const ExitCodes& codes) {
  return out << "{" << codes.win32 << ", " << codes.specific << "}";
}
ExitCodes QueryExitCode(SC_HANDLE service) {
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service, &status) == 0) {
    ADD_FAILURE() << "QueryServiceStatus: " << GetLastError();
    return {};
  }
  return {status.dwWin32ExitCode, status.dwServiceSpecificExitCode};
}

bool EventSourceRegistered() {
  HKEY key = nullptr;
  const LONG opened = RegOpenKeyExA(
      HKEY_LOCAL_MACHINE,
      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\PelluxSampleService", 0,
      KEY_READ, &key);
  if (opened == ERROR_SUCCESS) RegCloseKey(key);
  return opened == ERROR_SUCCESS;
}

std::string Notes() {
  std::ifstream file(ProgramPath() + ".notes");
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(ServiceSwitches, VersionAndUsageNeedNoServiceManager) {
  const Ran version = RunProgram("/v");
  EXPECT_EQ(version.exitCode, 0u);
  EXPECT_EQ(version.out, "Version " PELLUX_VERSION_TEXT "\n");
  const Ran usage = RunProgram("-?");
  EXPECT_EQ(usage.out.rfind("Usage:  " + ProgramPath() + " [/SWITCH] [mode]\n\nSwitches:\n/I\t", 0),
            0u)
      << usage.out;
  EXPECT_EQ(RunProgram("/x").out, usage.out);
}

TEST(ServiceSwitches, InstallStartControlStopAndUninstallUnderTheServiceManager) {
  DeleteFileA((ProgramPath() + ".notes").c_str());
  const Ran installed = RunProgram("/I");
  ASSERT_EQ(installed.exitCode, 0u);
  ASSERT_EQ(installed.err, "");
  EXPECT_EQ(StateOfService(), static_cast<DWORD>(SERVICE_STOPPED));

  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, kName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  {
    DWORD needed = 0;
    QueryServiceConfigA(service, nullptr, 0, &needed);
    std::string buffer(needed, '\0');
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    ASSERT_NE(QueryServiceConfigA(service, config, needed, &needed), 0);
    EXPECT_EQ(std::string(config->lpBinaryPathName), "\"" + ProgramPath() + "\"")
        << "quoted, so that a blank in the path cannot start another program";
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(std::string(config->lpDisplayName), "Pellux Sample Service");
    QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
    std::string described(needed, '\0');
    ASSERT_NE(QueryServiceConfig2A(service, SERVICE_CONFIG_DESCRIPTION,
                                   reinterpret_cast<BYTE*>(described.data()), needed, &needed),
              0);
    EXPECT_EQ(std::string(reinterpret_cast<SERVICE_DESCRIPTIONA*>(described.data())->lpDescription),
              "A service for the tests.");
  }
  {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
                            "PelluxSampleService",
                            0, KEY_READ, &key),
              ERROR_SUCCESS);
    char file[MAX_PATH] = {};
    DWORD size = sizeof file;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type,
                               reinterpret_cast<BYTE*>(file), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::string(file), ProgramPath());
    DWORD types = 0;
    size = sizeof types;
    EXPECT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type,
                               reinterpret_cast<BYTE*>(&types), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(types, 7u);
    RegCloseKey(key);
  }
  // A second install finds the service there: the system's reason, then the message.
  EXPECT_EQ(RunProgram("-i").err,
            "CreateServiceA(PelluxSampleService) failed: error 1073 (Service exists) "
            "[0x00000431]\nThe Pellux Data Uploader service installation failed.\n");

  const Ran started = RunProgram("/s");
  EXPECT_EQ(started.exitCode, 0u);
  EXPECT_EQ(started.err, "The Pellux Data Uploader service has started.\n");
  EXPECT_EQ(StateOfService(), static_cast<DWORD>(SERVICE_RUNNING));

  // A user control of ours is taken; pause is not among the accepted controls.
  SERVICE_STATUS status{};
  EXPECT_NE(ControlService(service, 128, &status), 0);
  EXPECT_NE(ControlService(service, 129, &status), 0);
  EXPECT_EQ(status.dwControlsAccepted, 0xC5u)
      << "stop, shutdown, power event, session change; no hardware profile change";
  EXPECT_EQ(ControlService(service, SERVICE_CONTROL_HARDWAREPROFILECHANGE, &status), 0)
      << "refused by the manager, never handed to the service";

  const Ran stopped = RunProgram("/P");
  EXPECT_EQ(stopped.exitCode, 0u);
  EXPECT_EQ(stopped.err, "");
  EXPECT_EQ(StateOfService(), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Notes(), "init\nrun\nuser 128\nuser 129\nstop\nrun ends\n");
  EXPECT_EQ(QueryExitCode(service), (ExitCodes{NO_ERROR, 0}));
  EXPECT_EQ(RunProgram("/P").err, "") << "stopping a stopped service is no failure";

  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(RunProgram("/U").err, "");
  EXPECT_EQ(StateOfService(), 0u);
  EXPECT_EQ(RunProgram("/u").err,
            "OpenServiceA(PelluxSampleService) failed: error 1060 (Service does not exist) "
            "[0x00000424]\nThe Pellux Data Uploader service could not be uninstalled.\n");
  const Ran notThere = RunProgram("/S");
  EXPECT_EQ(notThere.exitCode, 0u);
  EXPECT_EQ(notThere.err.substr(notThere.err.find('\n') + 1),
            "The Pellux Data Uploader service failed to start.\n");
}

TEST(ServiceList, NamesAreKeptTruncatedAndASecondServiceOfTheSameNameIsRefused) {
  const std::string longName(300, 'n');
  {
    Service first(longName, "display", "");
    EXPECT_EQ(std::string(first.Name()), std::string(255, 'n'));
    try {
      Service second(std::string(256, 'n'), "other", "");
      FAIL() << "a second service of the same (truncated) name was made";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "A service by that name has already been created.");
    }
  }
  Service again(longName, "display", "");  // the name is free once the first is gone
  EXPECT_STREQ(again.Version(), PELLUX_VERSION_TEXT);
}

}  // namespace
}  // namespace Pellux

namespace Pellux {
namespace {

// What an administrator expects of /I and /U: a start or run that failed ends with a non-zero exit
// code, and /U takes the running service down and leaves no event source behind.
TEST(ServiceAdministration, AFailureEndsWithAnExitCodeAndUninstallStopsAndRemovesEverything) {
  DeleteFileA((ProgramPath() + ".notes").c_str());
  ASSERT_EQ(RunProgram("/I").err, "");
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  SC_HANDLE service = OpenServiceA(manager, kName, SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  // The recovery actions themselves: Wine keeps them but cannot give them back, so their test
  // records the calls (service_reports_in_process_win_test.cpp).

  // Failed starts and runs, with no system code of their own: the service-specific code 1.
  struct Case {
    const char* marker;
    const char* notes;
  };
  for (const Case& failing :
       {Case{".fail-init", "init\n"}, Case{".fail-run", "init\nrun\nstop\nrun ends\n"}}) {
    SCOPED_TRACE(failing.marker);
    DeleteFileA((ProgramPath() + ".notes").c_str());
    std::ofstream(ProgramPath() + failing.marker) << "\n";
    RunProgram("/S");
    RunProgram("/P");
    DeleteFileA((ProgramPath() + failing.marker).c_str());
    EXPECT_EQ(StateOfService(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(Notes(), failing.notes);
    EXPECT_EQ(QueryExitCode(service),
              (ExitCodes{ERROR_SERVICE_SPECIFIC_ERROR, Service::kFailedExitCode}));
  }

  // /U while it runs: stopped first, then gone with its event source.
  DeleteFileA((ProgramPath() + ".notes").c_str());
  ASSERT_EQ(RunProgram("/S").err, "The Pellux Data Uploader service has started.\n");
  ASSERT_EQ(StateOfService(), static_cast<DWORD>(SERVICE_RUNNING));
  ASSERT_TRUE(EventSourceRegistered());
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(RunProgram("/U").err, "");
  EXPECT_EQ(Notes(), "init\nrun\nstop\nrun ends\n");
  EXPECT_EQ(StateOfService(), 0u);
  EXPECT_FALSE(EventSourceRegistered());
}

}  // namespace
}  // namespace Pellux
