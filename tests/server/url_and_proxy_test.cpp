#include <gtest/gtest.h>

#include <string>

#include "server/parse_url.h"
#include "server/proxy_lists.h"
#include "server/proxy_settings.h"

namespace Pellux {
namespace {

TEST(ParseUrlTest, SplitsSchemeHostPortAndPath) {
  ParsedUrl url;
  ASSERT_TRUE(ParseUrl("https://example.org:8080/a/b", url));
  EXPECT_EQ(url.scheme, "https");
  EXPECT_EQ(url.host, "example.org");
  EXPECT_EQ(url.port, 8080);
  EXPECT_EQ(url.path, "/a/b");
}

TEST(ParseUrlTest, KeepsPort80AndAnEmptyPathWhenAbsent) {
  ParsedUrl url;
  ASSERT_TRUE(ParseUrl("http://example.org", url));
  EXPECT_EQ(url.port, 80);
  EXPECT_EQ(url.path, "");
  ASSERT_TRUE(ParseUrl("http://example.org/x?y=1", url));
  EXPECT_EQ(url.port, 80);
  EXPECT_EQ(url.path, "/x?y=1");
}

TEST(ParseUrlTest, RefusesWhatIsNotAUrl) {
  ParsedUrl url;
  EXPECT_FALSE(ParseUrl("http://example.org:65535/a", url));  // five digits
  EXPECT_FALSE(ParseUrl("example.org/a", url));
  EXPECT_FALSE(ParseUrl("http://", url));
  EXPECT_FALSE(ParseUrl("http://host:/a", url));
  EXPECT_FALSE(ParseUrl("", url));
  EXPECT_FALSE(ParseUrl("://host", url));
}

TEST(ProxyListsTest, PicksTheServerForTheScheme) {
  EXPECT_EQ(ProxyForScheme("proxy:3128", "http"), "proxy:3128");
  EXPECT_EQ(ProxyForScheme("http=a:1;https=b:2", "https"), "b:2");
  EXPECT_EQ(ProxyForScheme("http=a:1 https=b:2", "HTTP"), "a:1");
  EXPECT_EQ(ProxyForScheme("ftp=c:3", "http"), "");
  EXPECT_EQ(ProxyForScheme("", "http"), "");
  EXPECT_EQ(ProxyForScheme("http=a:1;d:4", "https"), "d:4");
}

TEST(ProxySettingsTest, TheProcessSetIsReplacedAsAWhole) {
  ProxySettings settings;
  settings.selection = ProxySettings::kOverride;
  settings.serverOverride = "proxy:8080";
  ProcessProxySettings::Set(settings);
  EXPECT_EQ(ProcessProxySettings::Get(), settings);
  ProcessProxySettings::Set(ProxySettings{});
  EXPECT_EQ(ProcessProxySettings::Get().selection, -1);
}

}  // namespace
}  // namespace Pellux
