#include "server/curl_url_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace Pellux {
namespace {

struct UrlCase {
  const char* name;
  const char* scheme;
  std::string host;
  std::int32_t port;
  std::string path;
  // The URL built, or, when empty, a piece of the line that says why there is none.
  std::string url;
  std::string refusal;

  friend void PrintTo(const UrlCase& each, std::ostream* out) { *out << each.name; }
};

class CurlUrlBuilderTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(CurlUrlBuilderTest, BuildsTheUrlOrSaysWhichPartWasRefused) {
  const UrlCase& c = GetParam();
  const CurlUrl built = BuildCurlUrl(c.scheme, c.host, c.port, c.path);
  EXPECT_EQ(built.url, c.url);
  if (c.url.empty()) {
    EXPECT_NE(built.error.find(c.refusal), std::string::npos) << built.error;
    // The refused value is shown, but never a raw line break that would forge a log line.
    EXPECT_EQ(built.error.find_first_of("\r\n"), std::string::npos) << built.error;
  } else {
    EXPECT_EQ(built.error, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Parts, CurlUrlBuilderTest,
    ::testing::Values(
        UrlCase{"Plain", "http", "127.0.0.1", 8080, "/a/b", "http://127.0.0.1:8080/a/b", ""},
        UrlCase{"QueryKept", "http", "h", 80, "/x?y=1", "http://h:80/x?y=1", ""},
        UrlCase{"PathGetsItsSlash", "http", "h", 8001, "upload", "http://h:8001/upload", ""},
        UrlCase{"EmptyPathIsTheRoot", "http", "h", 8001, "", "http://h:8001/", ""},
        UrlCase{"Ipv6Bracketed", "http", "::1", 8080, "/", "http://[::1]:8080/", ""},
        UrlCase{"Ipv6AlreadyBracketed", "https", "[::1]", 443, "/", "https://[::1]:443/", ""},
        UrlCase{"Ipv6WithZone", "http", "fe80::1%eth0", 80, "/", "http://[fe80::1%25eth0]:80/", ""},
        UrlCase{"BadIpv6", "http", "1::2::3", 80, "/", "", "CURLUPART_HOST, \"[1::2::3]\""},
        // No port in the URL: libcurl connects to the scheme's own, as WinInet does for 0.
        UrlCase{"PortZeroIsTheDefault", "https", "h", 0, "/p", "https://h/p", ""},
        UrlCase{"HighestPort", "http", "h", 65535, "/", "http://h:65535/", ""},
        UrlCase{"HostWithBlank", "http", "a b", 80, "/", "", "CURLUPART_HOST, \"a b\""},
        UrlCase{"HostWithSlash", "http", "h/x", 80, "/", "", "CURLUPART_HOST"},
        UrlCase{"HostWithUser", "http", "user@h", 80, "/", "", "Bad hostname"},
        UrlCase{"HostWithLineBreak", "http", "h\r\nX-Injected: 1", 80, "/", "",
                "\"h\\x0D\\x0AX-Injected: 1\""},
        UrlCase{"EmptyHost", "http", "", 80, "/", "", "CURLUPART_HOST"},
        UrlCase{"HostAndPortInTheHost", "http", "h:80", 80, "/", "", "CURLUPART_HOST, \"h:80\""},
        UrlCase{"PortAbove65535", "http", "h", 65536, "/", "",
                "CURLUPART_PORT, \"65536\") failed with"},
        UrlCase{"NegativePort", "http", "h", -1, "/", "", "CURLUPART_PORT, \"-1\""},
        UrlCase{"PathWithBlank", "http", "h", 80, "/a b", "", "Bad path"},
        UrlCase{"PathWithLineBreak", "http", "h", 80, "/a\r\nX: 1", "", "CURLUPART_URL"},
        UrlCase{"UnknownScheme", "no such", "h", 80, "/", "", "CURLUPART_SCHEME"},
        UrlCase{"VeryLongHost", "http", std::string(100000, 'h') + " ", 80, "/", "", "..."}),
    [](const ::testing::TestParamInfo<UrlCase>& each) { return each.param.name; });

}  // namespace
}  // namespace Pellux
