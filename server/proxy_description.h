#pragma once

#include <string>

#include "server/proxy_settings.h"

namespace Pellux {

// How an exchange reaches the server under `settings`, for a person and without credentials:
// "direct", "proxy HOST:PORT" (the list as stored, each entry's "user:password@" removed),
// with " bypassing LIST" when a bypass list is set, and " (automatic configuration asked for:
// URL)" when the settings ask for it (only WinInet evaluates it). Pure, any thread.
std::string DescribeProxy(const ProxySettings& settings);

// `list` with the user information ("name:password@") of each entry removed.
std::string WithoutCredentials(const std::string& list);

}  // namespace Pellux
