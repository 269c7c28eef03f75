#include "server/wininet_request_plan_win.h"

#include <wininet.h>

namespace Pellux {
namespace {

constexpr DWORD kSecureFlags =
    INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_EXISTING_CONNECT;
constexpr DWORD kPlainFlags = INTERNET_FLAG_KEEP_CONNECTION;
static_assert(kSecureFlags == 0x20C00000 && kPlainFlags == 0x00400000);

}  // namespace

bool MayGoThroughProxy(const ProxySettings& proxy) {
  if (proxy.selection == ProxySettings::kOverride) return true;
  if (proxy.selection != ProxySettings::kPerConnection) return false;
  return (proxy.flags & (ProxySettings::kManualProxy | ProxySettings::kAutoConfigUrl |
                         ProxySettings::kAutoDetect)) != 0;
}

WinInetRequestPlan PlanWinInetRequest(bool secure, const ProxySettings& proxy) {
  WinInetRequestPlan plan;
  plan.flags = secure ? kSecureFlags : kPlainFlags;
  if (MayGoThroughProxy(proxy)) {
    plan.suppressServerAuth = true;
  } else {
    plan.flags |= INTERNET_FLAG_NO_AUTH;
  }
  return plan;
}

}  // namespace Pellux
