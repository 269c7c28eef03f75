#pragma once

#include <string>

namespace Pellux {

// The proxy for `scheme` ("http", "https", ...) from a Windows proxy server list: either one
// "host:port" for every scheme, or entries "scheme=host:port" separated by ';' or spaces.
// Empty when the list names none for that scheme.
std::string ProxyForScheme(const std::string& serverList, const std::string& scheme);

}  // namespace Pellux
