#include "rebooter/rebooter.h"

#include <cstdio>

#include "base/log_format.h"

namespace Pellux {
namespace {

// A failed listing ends the restart at once; otherwise the pause comes first, then the verdict.
std::optional<std::string> RestartBaseStation(const RebooterArguments& arguments,
                                              RebooterSystem& system, Clock& clock) {
  const RebooterSystem::DeviceRestart restart =
      system.RestartDevices(arguments.vendorId, arguments.productId);
  if (!restart.listed) return restart.reason;
  clock.Sleep(kDeviceSettleTime);
  if (restart.restarted > 0) return std::nullopt;
  if (restart.devices == 0) return std::string(kDeviceNotFoundReason);
  if (restart.refused == restart.devices) return std::string(kNoBaseStationReason);
  return restart.reason.empty() ? std::string(kPropertyChangeFailedReason) : restart.reason;
}

}  // namespace

bool RunRebooter(const RebooterArguments& arguments, RebooterSystem& system, Clock& clock,
                 std::ostream& out, std::ostream& err) {
  bool failed = false;
  system.StopService();
  if (system.ServiceRunning().value_or(false)) {
    err << kRebooterStopFailedText << std::flush;
    failed = true;
  }
  if (arguments.terminateProcess &&
      system.TerminateProcess(arguments.processId) == RebooterSystem::Termination::StillActive) {
    err << FormatLine(kRebooterNotTerminatedFormat, arguments.processId).str() << std::flush;
    failed = true;
  }
  if (arguments.restartDevice) {
    if (const auto failure = RestartBaseStation(arguments, system, clock)) {
      err << FormatLine(kRebooterRestartFailedFormat, failure->c_str()).str() << std::flush;
      failed = true;
    }
  }
  system.StartService();
  const bool running = system.ServiceRunning().value_or(false);
  out << FormatLine(kRebooterFinalFormat, running ? "running" : "stopped").str() << std::flush;
  return running && !failed;
}

std::string UsbDeviceInstancePrefix(std::uint32_t vendorId, std::uint32_t productId) {
  return FormatLine("USB\\VID_%04X&PID_%04X", static_cast<unsigned>(vendorId),
                    static_cast<unsigned>(productId))
      .str();
}

std::string DeviceListFailureReason(std::uint32_t code, const std::string& systemText) {
  std::string text = systemText;
  if (text.empty()) {
    if (code >= 0x80040201U && code <= 0x8004FFFFU) {
      text = FormatLine("IDispatch error #%d", static_cast<int>((code & 0xFFFFU) - 0x200U)).str();
    } else {
      text = FormatLine("Unknown error 0x%0lX", static_cast<unsigned long>(code)).str();
    }
  }
  return FormatLine("[0x%08x]: %s", static_cast<unsigned>(code), text.c_str()).str();
}

}  // namespace Pellux
