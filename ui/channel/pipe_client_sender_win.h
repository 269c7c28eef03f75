#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "base/ui_sender.h"

namespace Pellux {

// Who is at the other end of a connected pipe instance: the client's token (user SID,
// LocalSystem or not, elevated or not, session) as it came with the message read last, or, before
// anything was read, its process's. Nullopt, with the failed calls in `error`, when the system
// cannot tell: such a client is not served.
std::optional<UiSender> PipeClientSender(HANDLE pipe, std::string& error);

// The same facts of the process `pid` (the server of a reply pipe, say).
std::optional<UiSender> ProcessSender(DWORD pid, std::string& error);

}  // namespace Pellux
