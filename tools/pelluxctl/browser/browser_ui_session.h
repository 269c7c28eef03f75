#pragma once

#include <string>

#include "tools/pelluxctl/pelluxctl_options.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

// `pelluxctl ui`: starts a session in `options.mode` through the service, serves it to the
// user's browser (BrowserUiServer) and opens the browser on it unless `options.noBrowser`;
// keeps the session's polls going, passes the service's pages, status lines and records to the
// page and the page's forms to the service, until the page's Finish, the page being closed,
// Ctrl-C (each finishes the session) or the service ending the session. Returns the exit
// status. On the caller's thread; the server has its own.
int RunBrowserUi(const PelluxctlOptions& options, UiConnection& connection, const PelluxctlIo& io,
                 const std::string& service);

}  // namespace Pellux
