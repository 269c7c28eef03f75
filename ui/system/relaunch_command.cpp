#include "ui/system/relaunch_command.h"

#include <cstdio>

#include "ui/system/system_info.h"

namespace Pellux {

std::string RebooterSuffix(std::uint16_t processorArchitecture) {
  return SystemInfo::Is64BitArchitecture(processorArchitecture) ? "64" : "";
}

std::optional<std::string> RelaunchCommandLine(const std::string& programFolder,
                                               const std::string& suffix, std::uint16_t vendorId,
                                               std::uint16_t productId, std::uint32_t processId) {
  if (programFolder.empty() || programFolder.find('"') != std::string::npos) return std::nullopt;
  std::string program = programFolder;
  if (program.back() != '\\' && program.back() != '/') program += '\\';
  program += "rebooter" + suffix + ".exe";
  char ids[64];
  std::snprintf(ids, sizeof ids, " %x %x %d", static_cast<unsigned>(vendorId),
                static_cast<unsigned>(productId), static_cast<int>(processId));
  std::string line = "\"" + program + "\"" + ids;
  if (line.size() >= kRelaunchCommandLimit) return std::nullopt;
  return line;
}

}  // namespace Pellux
