// How the proxy in use is described in the status record: as the exchanges read the settings,
// and never with a password.

#include "server/proxy_description.h"

#include <gtest/gtest.h>

namespace Pellux {
namespace {

ProxySettings Settings(std::int32_t selection, std::uint32_t flags, std::string server = "",
                       std::string bypass = "", std::string autoConfigUrl = "",
                       std::string serverOverride = "") {
  ProxySettings settings;
  settings.selection = selection;
  settings.flags = flags;
  settings.server = std::move(server);
  settings.bypass = std::move(bypass);
  settings.autoConfigUrl = std::move(autoConfigUrl);
  settings.serverOverride = std::move(serverOverride);
  return settings;
}

TEST(ProxyDescription, WhatEachSelectionAndFlagsGive) {
  struct Case {
    const char* what;
    ProxySettings settings;
    const char* description;
  };
  const Case cases[] = {
      {"the defaults", ProxySettings{}, "direct"},
      {"another selection", Settings(7, ProxySettings::kManualProxy, "p:1"), "direct"},
      {"per connection, direct", Settings(1, ProxySettings::kDirect, "p:1"), "direct"},
      {"manual", Settings(1, ProxySettings::kManualProxy, "proxy.example:3128"),
       "proxy proxy.example:3128"},
      {"manual with a bypass list",
       Settings(1, ProxySettings::kManualProxy, "http=p:80;https=q:443", "*.local;<local>"),
       "proxy http=p:80;https=q:443 bypassing *.local;<local>"},
      {"manual without a server", Settings(1, ProxySettings::kManualProxy), "direct"},
      {"auto-config URL",
       Settings(1, ProxySettings::kAutoConfigUrl, "", "", "http://wpad.example/proxy.pac"),
       "direct (automatic configuration asked for: http://wpad.example/proxy.pac)"},
      {"auto-detect with a manual server",
       Settings(1, ProxySettings::kAutoDetect | ProxySettings::kManualProxy, "p:8080"),
       "proxy p:8080 (automatic configuration asked for)"},
      {"every flag (unset)", Settings(1, 0xFFFFFFFF, "p:8080"), "proxy p:8080"},
      {"override", Settings(2, 0, "ignored:1", "", "", "over.example:8000"),
       "proxy over.example:8000"},
      {"override without a server", Settings(2, 0), "direct"},
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeProxy(c.settings), c.description) << c.what;
}

TEST(ProxyDescription, CredentialsAreNeverShown) {
  struct Case {
    const char* list;
    const char* shown;
  };
  const Case cases[] = {
      {"user:secret@p:3128", "p:3128"},
      {"http://user:secret@p:3128", "http://p:3128"},
      {"http=user:pw@p:80;https=https://u:p@q:443", "http=p:80;https=https://q:443"},
      {"a@b@p:1 q:2", "p:1 q:2"},
      {"@p:1", "p:1"},
      {"p:1", "p:1"},
      {"", ""},
      {";;", ";;"},
  };
  for (const Case& c : cases) EXPECT_EQ(WithoutCredentials(c.list), c.shown) << c.list;
  EXPECT_EQ(DescribeProxy(Settings(2, 0, "", "", "", "me:pw@over:1")), "proxy over:1");
  EXPECT_EQ(DescribeProxy(Settings(1, ProxySettings::kAutoConfigUrl, "", "", "http://u:pw@w/p")),
            "direct (automatic configuration asked for: http://w/p)");
}

}  // namespace
}  // namespace Pellux
