#include "server/proxy_settings.h"

namespace Pellux {

std::mutex& ProcessProxySettings::Lock() {
  static std::mutex lock;
  return lock;
}

ProxySettings& ProcessProxySettings::Current() {
  static ProxySettings current;
  return current;
}

ProxySettings ProcessProxySettings::Get() {
  std::lock_guard guard(Lock());
  return Current();
}

void ProcessProxySettings::Set(const ProxySettings& settings) {
  std::lock_guard guard(Lock());
  Current() = settings;
}

}  // namespace Pellux
