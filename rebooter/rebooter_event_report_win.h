#pragma once

#include <ostream>
#include <string>

namespace Pellux {

// The event log's message of a recovery that failed (service/service_messages.mc): "The recovery
// of the %1 service failed: %2." with the service's name and what failed.
inline constexpr unsigned long kEventRecoveryFailed = 112;

// The failure lines of a rebooter's run as the one text of its event report: the lines joined
// by "; ", without their line ends.
std::string RecoveryFailureText(const std::string& lines);

// Reports the failed recovery of `serviceName` to the event log under the service's own event
// source, as an error with the service's name and `failures`. A source that cannot be
// registered, or a report the system refuses, is told on `err` with the call, the code and the
// system's text.
void ReportRecoveryFailure(const std::string& serviceName, const std::string& failures,
                           std::ostream& err);

}  // namespace Pellux
