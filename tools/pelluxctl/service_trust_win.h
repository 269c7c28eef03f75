#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/ui_sender.h"

namespace Pellux {

// Whom pelluxctl lets serve the service's pipe, and answer on its reply pipe: the process of
// the Pellux service, LocalSystem, or the user running pelluxctl (who cannot be attacked by
// himself, and may run the service's code under his own name, as the tests do). Anyone else may
// be a process that took the pipe's name while the service was down: nothing is written to
// such a pipe, a form with a password least of all.
enum class ServerTrust { kTheService, kLocalSystem, kThisUser, kNone };

// The decision, pure: `server` as the system tells it, the running service's process id (none
// when it does not run), and the SID of the user running pelluxctl.
ServerTrust TrustOf(const UiSender& server, std::optional<std::uint32_t> servicePid,
                    const std::string& ownUser);

// What to tell the user of an untrusted `server`: its process id and SID.
std::string UntrustedServerText(const UiSender& server);

// The process id of the service `name` while it runs (QueryServiceStatusEx); none when it is
// not installed or not running, or when the service manager cannot tell (then `error` says
// why, with the failed call).
std::optional<std::uint32_t> RunningServiceProcess(const char* name, std::string& error);

}  // namespace Pellux
