#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "tests/support/linux_side_fetch.h"

namespace Pellux {

std::optional<std::string> FetchFromLinuxSide(const std::string& url) {
  // Wine's drive Z: is the Linux root: the files are written where both sides name them.
  const std::string name = "pellux-fetch-" + std::to_string(GetCurrentProcessId());
  const std::filesystem::path script = "Z:\\tmp\\" + name + ".py";
  const std::filesystem::path out = "Z:\\tmp\\" + name + ".out";
  std::filesystem::remove(out);
  {
    std::ofstream file(script, std::ios::binary | std::ios::trunc);
    file << kLinuxSideFetchScript;
  }
  // A program that is no Windows image is run by Wine as a native Linux process.
  std::wstring command = L"python3 /tmp/" + std::wstring(name.begin(), name.end()) + L".py " +
                         std::wstring(url.begin(), url.end()) + L" /tmp/" +
                         std::wstring(name.begin(), name.end()) + L".out";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (CreateProcessW(L"Z:\\usr\\bin\\python3", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     nullptr, &startup, &process) == 0) {
    std::cerr << "CreateProcessW(Z:\\usr\\bin\\python3) failed: " << GetLastError() << "\n";
    return std::nullopt;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  // Wine gives no handle that waits for a Linux process: its answer file is waited for.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::filesystem::remove(script);
  return TakeFetchAnswer(out, "the Linux side's python3 gave nothing within 30 s");
}

}  // namespace Pellux
