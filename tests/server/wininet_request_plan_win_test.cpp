// How a WinInet request is opened under each proxy setting, as a table: never a request that
// may answer the server's authentication challenge on its own.

#include "server/wininet_request_plan_win.h"

#include <gtest/gtest.h>
#include <wininet.h>

#include <string>

namespace Pellux {
namespace {

constexpr DWORD kPlain = INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kSecure =
    INTERNET_FLAG_SECURE | INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_EXISTING_CONNECT;

ProxySettings Selection(std::int32_t selection, std::uint32_t flags = 0xFFFFFFFF) {
  ProxySettings proxy;
  proxy.selection = selection;
  proxy.flags = flags;
  return proxy;
}

struct PlanRow {
  const char* name;
  bool secure;
  ProxySettings proxy;
  WinInetRequestPlan plan;
};

TEST(WinInetRequestPlanTest, ServerAuthenticationIsOffByFlagOrByOption) {
  const PlanRow rows[] = {
      {"direct", false, Selection(-1), {kPlain | INTERNET_FLAG_NO_AUTH, false}},
      {"direct secure", true, Selection(-1), {kSecure | INTERNET_FLAG_NO_AUTH, false}},
      {"unknown selection", false, Selection(3), {kPlain | INTERNET_FLAG_NO_AUTH, false}},
      {"per connection, direct only",
       false,
       Selection(ProxySettings::kPerConnection, ProxySettings::kDirect),
       {kPlain | INTERNET_FLAG_NO_AUTH, false}},
      {"per connection, nothing",
       true,
       Selection(ProxySettings::kPerConnection, 0),
       {kSecure | INTERNET_FLAG_NO_AUTH, false}},
      // A proxy may ask for its own credentials: only the server's authentication is off.
      {"per connection, manual proxy",
       false,
       Selection(ProxySettings::kPerConnection,
                 ProxySettings::kDirect | ProxySettings::kManualProxy),
       {kPlain, true}},
      {"per connection, script",
       true,
       Selection(ProxySettings::kPerConnection, ProxySettings::kAutoConfigUrl),
       {kSecure, true}},
      {"per connection, detection",
       false,
       Selection(ProxySettings::kPerConnection, ProxySettings::kAutoDetect),
       {kPlain, true}},
      {"per connection, as stored by default",
       false,
       Selection(ProxySettings::kPerConnection),
       {kPlain, true}},
      {"override", false, Selection(ProxySettings::kOverride, 0), {kPlain, true}},
      {"override secure", true, Selection(ProxySettings::kOverride), {kSecure, true}},
  };
  for (const auto& row : rows) {
    const WinInetRequestPlan plan = PlanWinInetRequest(row.secure, row.proxy);
    EXPECT_EQ(plan.flags, row.plan.flags) << row.name;
    EXPECT_EQ(plan.suppressServerAuth, row.plan.suppressServerAuth) << row.name;
    // Whichever way, the server's authentication is off.
    EXPECT_TRUE(plan.suppressServerAuth || (plan.flags & INTERNET_FLAG_NO_AUTH) != 0) << row.name;
    // No flag that lets a bad certificate through.
    EXPECT_EQ(plan.flags &
                  (INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID),
              0U)
        << row.name;
  }
}

}  // namespace
}  // namespace Pellux
