#pragma once

#include <chrono>
#include <string>

#include "server/proxy_settings.h"
#include "tools/pelluxctl/doctor/doctor_check.h"
#include "tools/pelluxctl/doctor/server_probe.h"
#include "tools/pelluxctl/doctor/settings_check.h"

namespace Pellux {

// The proxy the daemon's HTTP client takes for a plain HTTP request to `host`:`port` under
// `proxy` ("host:port"), or empty for a direct connection: the override server with selection
// 2; with selection 1 and the manual proxy flag, the server list's proxy for "http" unless the
// bypass list names the host. Pure.
std::string ProxyForServer(const ProxySettings& proxy, const std::string& host, std::int32_t port);

// The upload server (ServerHost, ServerPort) answers one HTTP request to the error path
// (ErrorPath) within `timeout`, through the configured proxy. Any HTTP answer below 500 shows
// the way is open; 500 and above warn; no answer fails.
DoctorCheck CheckServer(const DoctorSettings& settings, ServerProbe& probe,
                        std::chrono::milliseconds timeout);

}  // namespace Pellux
