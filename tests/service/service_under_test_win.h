#pragma once

// What the tests of the "Pellux" service under Wine's service manager share: waiting for a
// condition, the service's state from the service manager, and its activity log files.

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

namespace Pellux {

// Asks `done` every 20 ms until it holds or `limit` has passed; false then.
inline bool Eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

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

// Every activity log file's contents, oldest first.
inline std::string AllActivityLogs() {
  std::string text;
  for (const auto& file : ActivityLogFiles()) text += FileText(file);
  return text;
}

}  // namespace Pellux
