#pragma once

// What the tests of the "Pellux" service under Wine's service manager share: waiting for a
// condition, the service's state from the service manager, and its activity log files.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/reference_server.h"
#include "tests/support/eventually.h"
#include "ui/settings/registry_settings_store_win.h"

namespace Pellux {

struct InstalledServiceState {
  DWORD state = 0;      // SERVICE_RUNNING, SERVICE_STOPPED, ...
  DWORD processId = 0;  // 0 while no process runs it
};

// The state of the service `name`; nothing when it is not installed (or the manager refused).
inline std::optional<InstalledServiceState> QueryInstalledService(const char* name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
  if (manager == nullptr) return std::nullopt;
  std::optional<InstalledServiceState> result;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  if (service != nullptr) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &needed) != 0) {
      result = InstalledServiceState{status.dwCurrentState, status.dwProcessId};
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return result;
}

// The activity log files under ProgramData, oldest first (their names are their stamps).
inline std::vector<std::filesystem::path> ActivityLogFiles() {
  char data[MAX_PATH] = {};
  GetEnvironmentVariableA("ProgramData", data, MAX_PATH);
  const std::filesystem::path folder = std::filesystem::path(data) / "Pellux" / "Tracker" / "logs";
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.filename() < b.filename(); });
  return files;
}

inline std::string FileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The newest activity log file's contents.
inline std::string ActivityLog() {
  const auto files = ActivityLogFiles();
  return files.empty() ? std::string() : FileText(files.back());
}

// The contents of the activity log files that are not in `before`, oldest first.
inline std::string ActivityLogsSince(const std::vector<std::filesystem::path>& before) {
  std::string text;
  for (const auto& file : ActivityLogFiles()) {
    if (std::find(before.begin(), before.end(), file) == before.end()) text += FileText(file);
  }
  return text;
}

// Every activity log file's contents, oldest first.
inline std::string AllActivityLogs() {
  std::string text;
  for (const auto& file : ActivityLogFiles()) text += FileText(file);
  return text;
}

// Scripts `server` for one upload ("Upload complete." shown, then the tracker let go and asked
// to sleep), and points the service's settings in the registry at it, with the activity log on.
inline void ScriptOneUpload(ReferenceServer& server) {
  const std::string port = std::to_string(server.Port());
  server.ScriptDocuments(
      {"<p><response host=\"127.0.0.1\" port=\"" + port +
           "\" path=\"/done\"/><clientDisplay><message>Upload complete.</message>"
           "</clientDisplay><device action=\"close\" sleepPeriod=\"15\"/></p>",
       "<p><device action=\"close\"/></p>"});
  RegistrySettingsStore settings([](const std::string& line) { ADD_FAILURE() << line; });
  settings.WriteText("Tracker", "ServerHost", "127.0.0.1");
  settings.WriteNumber("Tracker", "ServerPort", server.Port());
  settings.WriteText("Tracker", "ErrorHost", "127.0.0.1");
  settings.WriteNumber("Tracker", "ErrorPort", server.Port());
  settings.WriteNumber("Tracker", "LogActivity", 1);
  settings.WriteNumber("Tracker", "MaxLogDays", 1);
}

}  // namespace Pellux
