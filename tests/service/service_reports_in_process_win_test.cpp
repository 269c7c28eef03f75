// The reports of the Service class caught in this process: its calls of RegisterEventSourceA
// and ReportEventA go through this program's import table, which the test points at its own
// functions for a while. Wine's RegisterEventSourceA never fails; here the source can be made
// to fail, and then nothing is reported.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "service/service_win.h"
#include "tests/service/import_patch_win.h"

namespace Pellux {
namespace {

constexpr const char* kName = "PelluxReportProbe";

struct Caught {
  WORD type;
  WORD category;
  DWORD id;
  std::vector<std::string> strings;
  bool withData;
  bool operator==(const Caught&) const = default;
};

// What the replacements see. The test's thread only: Install and Uninstall report on it.
HANDLE g_source = nullptr;
std::vector<std::string> g_registered;
std::vector<Caught> g_caught;

HANDLE WINAPI FakeRegisterEventSourceA(LPCSTR server, LPCSTR source) {
  g_registered.push_back(std::string(server == nullptr ? "(local)" : server) + "/" + source);
  return g_source;
}

BOOL WINAPI FakeReportEventA(HANDLE log, WORD type, WORD category, DWORD id, PSID /*user*/,
                             WORD count, DWORD dataSize, LPCSTR* strings, LPVOID data) {
  if (log != g_source || log == nullptr) ADD_FAILURE() << "reported on another handle";
  Caught caught{type, category, id, {}, dataSize != 0 || data != nullptr};
  for (WORD i = 0; i < count; ++i) caught.strings.emplace_back(strings[i]);
  g_caught.push_back(caught);
  return TRUE;
}

BOOL WINAPI FakeDeregisterEventSource(HANDLE log) {
  if (log != g_source) ADD_FAILURE() << "deregistered another handle";
  return TRUE;
}

TEST(ServiceReportsInProcess, InstallAndUninstallReportOnlyWithARegisteredSource) {
  struct Row {
    const char* what;
    HANDLE source;
    std::vector<Caught> expected;
  };
  const Row rows[] = {
      {"registered",
       reinterpret_cast<HANDLE>(0x5150),
       {{EVENTLOG_INFORMATION_TYPE, 0, 100, {kName}, false},
        {EVENTLOG_INFORMATION_TYPE, 0, 101, {kName}, false}}},
      {"not registered", nullptr, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    g_source = row.source;
    g_registered.clear();
    g_caught.clear();
    {
      const ImportPatch registering("advapi32.dll", "RegisterEventSourceA",
                                    reinterpret_cast<void*>(&FakeRegisterEventSourceA));
      const ImportPatch reporting("advapi32.dll", "ReportEventA",
                                  reinterpret_cast<void*>(&FakeReportEventA));
      const ImportPatch deregistering("advapi32.dll", "DeregisterEventSource",
                                      reinterpret_cast<void*>(&FakeDeregisterEventSource));
      ASSERT_TRUE(registering.Patched());
      ASSERT_TRUE(reporting.Patched());
      ASSERT_TRUE(deregistering.Patched());
      {
        Service service(kName, "Pellux Report Probe", "");
        ASSERT_TRUE(service.Install());
        EXPECT_TRUE(service.Uninstall());
        // A second uninstall finds no service: refused before any report.
        EXPECT_FALSE(service.Uninstall());
      }
    }
    EXPECT_EQ(g_registered, std::vector<std::string>{std::string("(local)/") + kName});
    EXPECT_EQ(g_caught, row.expected);
  }
}

// The service manager's configuration calls of Install, seen on their way (Wine keeps the
// failure actions but cannot give them back, and refuses their flag).
struct Configured {
  DWORD level;
  DWORD resetPeriod = 0;
  std::vector<std::pair<SC_ACTION_TYPE, DWORD>> actions;
  bool nonCrashFailures = false;
  bool operator==(const Configured&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Configured& configured) {
  out << "{level " << configured.level << ", reset " << configured.resetPeriod << ",";
  for (const auto& [type, delay] : configured.actions) out << " (" << type << ", " << delay << ")";
  return out << ", non-crash " << configured.nonCrashFailures << "}";
}
std::vector<Configured> g_configured;

BOOL WINAPI RecordChangeServiceConfig2A(SC_HANDLE service, DWORD level, LPVOID info) {
  Configured configured{level, 0, {}, false};
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    const auto* failure = static_cast<const SERVICE_FAILURE_ACTIONSA*>(info);
    configured.resetPeriod = failure->dwResetPeriod;
    for (DWORD i = 0; i < failure->cActions; ++i) {
      configured.actions.emplace_back(failure->lpsaActions[i].Type, failure->lpsaActions[i].Delay);
    }
  } else if (level == SERVICE_CONFIG_FAILURE_ACTIONS_FLAG) {
    configured.nonCrashFailures =
        static_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(info)->fFailureActionsOnNonCrashFailures;
  }
  g_configured.push_back(configured);
  // The system's own, not through the import table that points here.
  using Change = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
  const auto real = reinterpret_cast<Change>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("advapi32.dll"), "ChangeServiceConfig2A")));
  return real != nullptr && real(service, level, info);
}

TEST(ServiceInstallInProcess, InstallAsksToRestartTwiceAfterAMinuteAndCountNonCrashFailures) {
  g_configured.clear();
  {
    const ImportPatch configuring("advapi32.dll", "ChangeServiceConfig2A",
                                  reinterpret_cast<void*>(&RecordChangeServiceConfig2A));
    ASSERT_TRUE(configuring.Patched());
    Service service("PelluxRecoveryProbe", "Pellux Recovery Probe", "Recovers.");
    ASSERT_TRUE(service.Install());
    EXPECT_TRUE(service.Uninstall());
  }
  EXPECT_EQ(g_configured,
            (std::vector<Configured>{{SERVICE_CONFIG_DESCRIPTION, 0, {}, false},
                                     {SERVICE_CONFIG_FAILURE_ACTIONS,
                                      86400,
                                      {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}},
                                      false},
                                     {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, 0, {}, true}}));
}

}  // namespace
}  // namespace Pellux
