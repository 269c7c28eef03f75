#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

// Whether a request to `host` at `port` goes around the proxy under a Windows bypass list, by
// the rules Windows applies to it: entries separated by ';' or white space, compared without
// regard to case; '*' stands for any run of characters (dots included) and '?' for one;
// "<local>" stands for every host name without a dot. An entry is matched against the host
// alone and against "host:port", so "intranet:8080" goes around only for that port while
// "intranet" does for any. A `port` of 0 or less has no "host:port" form.
bool BypassesProxy(const std::string& bypassList, const std::string& host, std::int32_t port);

}  // namespace Pellux
