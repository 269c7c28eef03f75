#include "server/proxy_bypass.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace Pellux {
namespace {

struct BypassCase {
  const char* list;
  const char* host;
  std::int32_t port;
  bool bypasses;
};

class ProxyBypassTest : public ::testing::TestWithParam<BypassCase> {};

TEST_P(ProxyBypassTest, DecidesAsWindowsDoes) {
  const BypassCase& c = GetParam();
  EXPECT_EQ(BypassesProxy(c.list, c.host, c.port), c.bypasses)
      << "list '" << c.list << "', host '" << c.host << "', port " << c.port;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ProxyBypassTest,
    ::testing::Values(
        // <local> is every name without a dot, not only the loopback names.
        BypassCase{"<local>", "intranet", 80, true}, BypassCase{"<local>", "localhost", 80, true},
        BypassCase{"<local>", "127.0.0.1", 80, false},
        BypassCase{"<local>", "upload.example.org", 80, false},
        BypassCase{"<LOCAL>", "intranet", 80, true}, BypassCase{"<local", "intranet", 80, false},
        // Exact names, any case.
        BypassCase{"Upload.Example.Org", "upload.example.ORG", 80, true},
        BypassCase{"upload.example.org", "example.org", 80, false},
        // '*' spans dots; "*.domain" is the subdomains only, as on Windows.
        BypassCase{"*.example.org", "a.b.example.org", 80, true},
        BypassCase{"*.example.org", "example.org", 80, false},
        BypassCase{"*.example.org", "badexample.org", 80, false},
        BypassCase{"10.0.*", "10.0.3.7", 80, true}, BypassCase{"10.0.*", "10.1.3.7", 80, false},
        BypassCase{"*", "anything.at.all", 80, true},
        BypassCase{"up*ad*", "upload.example.org", 80, true},
        BypassCase{"host?", "host1", 80, true}, BypassCase{"host?", "host", 80, false},
        BypassCase{"host?", "host12", 80, false},
        // Separators: ';' and white space, empty entries skipped.
        BypassCase{";; a ;\tb\nc;;", "c", 80, true}, BypassCase{"a;b c", "b", 80, true},
        BypassCase{"a,b", "b", 80, false}, BypassCase{"", "intranet", 80, false},
        BypassCase{";;;   ", "intranet", 80, false},
        // An entry with a port goes around for that port only; one without, for any.
        BypassCase{"intranet:8080", "intranet", 8080, true},
        BypassCase{"intranet:8080", "intranet", 80, false},
        BypassCase{"intranet", "intranet", 8080, true},
        BypassCase{"*:8080", "upload.example.org", 8080, true},
        BypassCase{"intranet:8080", "intranet", 0, false},
        // Hostile lists and hosts.
        BypassCase{"*****", "upload.example.org", 80, true},
        BypassCase{"*****x", "upload.example.org", 80, false}, BypassCase{"**?**", "", 80, false},
        BypassCase{"<local>", "", 80, false}, BypassCase{"a\x01z", "a\x01z", 80, true},
        BypassCase{"\xff*", "\xff\xfe", 80, true},
        BypassCase{"*.example.org", "a.example.org\r\nVia: x", 80, false}));

TEST(ProxyBypassLimitsTest, PathologicalPatternsAndLongListsEndQuickly) {
  // A backtracking matcher takes exponential time on many stars against a near miss; these
  // run in milliseconds here and would not finish at all there.
  std::string stars;
  for (int i = 0; i < 2000; ++i) stars += "*a";
  const std::string host(20000, 'a');
  EXPECT_TRUE(BypassesProxy(stars, host, 80));
  EXPECT_FALSE(BypassesProxy(stars + "b", host, 80));
  EXPECT_FALSE(BypassesProxy("*" + std::string(300, 'a') + "b", host, 80));

  std::string list;
  for (int i = 0; i < 20000; ++i) list += "host" + std::to_string(i) + ".example.org;";
  EXPECT_TRUE(BypassesProxy(list + "*.last.org", "upload.last.org", 80));
  EXPECT_FALSE(BypassesProxy(list, "upload.last.org", 80));
  EXPECT_TRUE(BypassesProxy(list, "HOST19999.example.org", 80));
}

}  // namespace
}  // namespace Pellux
