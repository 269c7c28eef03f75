#include "service/daemon_relauncher_linux.h"

#include <cstdlib>

#include "base/log_format.h"
#include "base/log_level.h"
#include "device/udev_devices_linux.h"
#include "rebooter/rebooter_instance_linux.h"
#include "service/systemd_units_linux.h"

namespace Pellux {

bool DaemonRelauncher::UnderSystemd() {
  const char* invocation = std::getenv("INVOCATION_ID");
  return invocation != nullptr && *invocation != '\0';
}

bool DaemonRelauncher::operator()(std::uint16_t vendorId, std::uint16_t productId,
                                  const LinuxUserInterface::RelaunchLog& log) const {
  if (!underSystemd_) {
    log(FormatLine("Not running under systemd: no restart of the service; resetting base station "
                   "%04x:%04x here",
                   vendorId, productId)
            .str(),
        LogLevel::kError);
    const int restarted = RestartUsbDevices(
        vendorId, productId, [&log](int level, const std::string& line) { log(line, level); });
    if (restarted == 0) log("No base station was reset", LogLevel::kError);
    return restarted > 0;
  }
  const std::string unit = RebooterUnitName(vendorId, productId, processId_);
  log(FormatLine("Relaunching application:  %s", unit).str(), LogLevel::kError);
  SystemdUnits units([&log](const std::string& line) { log(line, LogLevel::kError); });
  return units.Start(unit);
}

}  // namespace Pellux
