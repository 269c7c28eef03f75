#pragma once

#include <memory>
#include <string>

#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

// UiConnection::Open on Windows with the user pelluxctl runs as given (a SID): what it trusts
// besides the service and LocalSystem. Tests give another one to play a user that does not
// own the pipes they serve.
std::unique_ptr<UiConnection> OpenNamedPipeConnection(const std::string& serviceName,
                                                      const std::string& replyName,
                                                      const std::string& ownUser,
                                                      std::string& error);

}  // namespace Pellux
