#pragma once

#include <string>

namespace Pellux {

// The proxy for `scheme` ("http", "https", ...) from a Windows proxy server list: either one
// "host:port" for every scheme, or entries "scheme=host:port" separated by ';' or spaces.
// Empty when the list names none for that scheme.
std::string ProxyForScheme(const std::string& serverList, const std::string& scheme);

// A Windows bypass list ("host;*.domain;<local>", separated by ';' or spaces) as the
// comma-separated list libcurl takes: "*.domain" becomes ".domain" (libcurl matches a domain
// and its subdomains), "<local>" the loopback names. Entries with characters libcurl would
// misread are left out.
std::string NoProxyList(const std::string& bypass);

}  // namespace Pellux
