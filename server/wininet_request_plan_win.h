#pragma once

#include <windows.h>

#include "server/proxy_settings.h"

namespace Pellux {

// How one WinInet request is opened. The service runs as LocalSystem: a request that answered
// an authentication challenge on its own would answer it with the machine account's
// credentials, to whichever host the upload address names. So no request ever authenticates
// to the server it talks to.
struct WinInetRequestPlan {
  // The flags for HttpOpenRequestA.
  DWORD flags = 0;
  // Whether INTERNET_OPTION_SUPPRESS_SERVER_AUTH is to be set on the request before it is sent.
  bool suppressServerAuth = false;

  bool operator==(const WinInetRequestPlan&) const = default;
};

// Whether a request under `proxy` may go through a proxy: the override server, or
// per-connection options that name a proxy, a configuration script or automatic detection
// (which proxy a script or detection picks for one host cannot be known beforehand).
bool MayGoThroughProxy(const ProxySettings& proxy);

// A request that goes straight to the server carries INTERNET_FLAG_NO_AUTH: WinInet answers no
// challenge at all. One that may go through a proxy leaves that flag off, as the proxy may ask
// for its own authentication, and has only the server's authentication turned off by
// INTERNET_OPTION_SUPPRESS_SERVER_AUTH instead. A secure request checks the certificate's name
// and dates: the flags that would ignore them are never set, nor any flag that offers
// credentials on its own.
WinInetRequestPlan PlanWinInetRequest(bool secure, const ProxySettings& proxy);

}  // namespace Pellux
