#include "server/proxy_description.h"

#include <cstddef>

namespace Pellux {
namespace {

bool IsSeparator(char c) {
  return c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One entry ("host:port", "scheme=host:port", "http://user:pw@host:port", ...) without its
// user information.
std::string EntryWithoutCredentials(const std::string& entry) {
  const std::size_t at = entry.rfind('@');
  if (at == std::string::npos) return entry;
  std::size_t start = 0;
  const std::size_t equals = entry.find('=');
  if (equals != std::string::npos && equals < at) start = equals + 1;
  const std::size_t scheme = entry.find("://", start);
  if (scheme != std::string::npos && scheme < at) start = scheme + 3;
  return entry.substr(0, start) + entry.substr(at + 1);
}

}  // namespace

std::string WithoutCredentials(const std::string& list) {
  std::string result;
  std::string entry;
  for (const char c : list) {
    if (IsSeparator(c)) {
      result += EntryWithoutCredentials(entry);
      entry.clear();
      result += c;
    } else {
      entry += c;
    }
  }
  return result + EntryWithoutCredentials(entry);
}

std::string DescribeProxy(const ProxySettings& settings) {
  if (settings.selection == ProxySettings::kOverride) {
    return settings.serverOverride.empty() ? std::string("direct")
                                           : "proxy " + WithoutCredentials(settings.serverOverride);
  }
  if (settings.selection != ProxySettings::kPerConnection) return "direct";
  // As the exchanges read them (http_exchange_*.cpp): a manual server list when the flags ask
  // for one, and automatic configuration, which only WinInet evaluates, named as asked for.
  std::string description = "direct";
  if ((settings.flags & ProxySettings::kManualProxy) != 0 && !settings.server.empty()) {
    description = "proxy " + WithoutCredentials(settings.server);
    if (!settings.bypass.empty()) description += " bypassing " + settings.bypass;
  }
  const bool automatic =
      (settings.flags & (ProxySettings::kAutoConfigUrl | ProxySettings::kAutoDetect)) != 0 &&
      settings.flags != 0xFFFFFFFF;
  if (automatic) {
    description += " (automatic configuration asked for";
    if (!settings.autoConfigUrl.empty()) {
      description += ": " + WithoutCredentials(settings.autoConfigUrl);
    }
    description += ")";
  }
  return description;
}

}  // namespace Pellux
