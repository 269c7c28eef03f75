#include "server/proxy_bypass.h"

#include <cstddef>
#include <string_view>

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

// Whether `text` matches `pattern`, '*' standing for any run of characters and '?' for one.
bool MatchesWildcard(std::string_view pattern, std::string_view text) {
  // Greedy with one resumption point, the last '*' seen: a later mismatch lets that star take
  // one more character and retries from there. Earlier stars never need revisiting, because
  // the last one can already absorb whatever they could: the work is at most the product of
  // the two lengths, whatever the input.
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(text[t]))) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
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
