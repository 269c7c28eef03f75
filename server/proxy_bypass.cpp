#include "server/proxy_bypass.h"

#include <cstddef>
#include <string_view>

#include "base/wildcard.h"

namespace Pellux {
namespace {

// ASCII only: a host name compares the same whatever the process's locale.
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool Separator(char c) {
  return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool EntryMatches(std::string_view entry, const std::string& host, const std::string& hostAndPort) {
  if (SameText(entry, "<local>")) return host.find('.') == std::string::npos;
  if (MatchesWildcard(entry, host)) return true;
  return !hostAndPort.empty() && MatchesWildcard(entry, hostAndPort);
}

}  // namespace

bool BypassesProxy(const std::string& bypassList, const std::string& host, std::int32_t port) {
  // No entry stands for an empty host: a request without one never reaches a server anyway.
  if (host.empty()) return false;
  const std::string hostAndPort = port > 0 ? host + ":" + std::to_string(port) : std::string();
  const std::string_view list(bypassList);
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = start;
    while (end < list.size() && !Separator(list[end])) ++end;
    if (end > start && EntryMatches(list.substr(start, end - start), host, hostAndPort)) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace Pellux
