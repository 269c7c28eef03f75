#pragma once

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>

#include "tools/pelluxctl/pelluxctl_runner.h"

namespace Pellux {

// What `pelluxctl status` prints for the service at `service`, answered at `replyName`; on
// failure "failed (exit N): " and its error output.
inline std::string PelluxctlStatus(const std::string& service, const std::string& replyName) {
  PelluxctlOptions options;
  options.command = PelluxctlOptions::Command::kStatus;
  options.service = service;
  std::string error;
  auto connection = UiConnection::Open(service, replyName, error);
  if (connection == nullptr) return "failed: " + error;
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in;
  std::atomic<bool> interrupted{false};
  const int status = RunPelluxctl(options, *connection,
                                  {out, err, in, interrupted, std::chrono::milliseconds(5000),
                                   std::chrono::milliseconds(2000)});
  if (status != kPelluxctlOk) return "failed (exit " + std::to_string(status) + "): " + err.str();
  return out.str();
}

// Whether `pelluxctl status`'s output says the base station is open.
inline bool StatusSaysStationOpen(const std::string& status) {
  std::istringstream lines(status);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("base station:", 0) != 0) continue;
    const std::size_t value = line.find_first_not_of(' ', 13);
    return value != std::string::npos && line.compare(value, 6, "open, ") == 0;
  }
  return false;
}

}  // namespace Pellux
