// Who may use the browser page: the token, the Host and the Origin, as a table.

#include <gtest/gtest.h>

#include "tools/pelluxctl/browser/request_guard.h"

namespace Pellux {
namespace {

constexpr const char* kToken = "00112233445566778899aabbccddeeff";

struct GuardCase {
  const char* name;
  const char* method;
  std::string target;
  const char* host;
  std::optional<std::string_view> origin;
  // Allowed: the path after the token; refused: a piece of the reason.
  bool allowed;
  const char* expected;
};

TEST(RequestGuardTest, LetsThroughOnlyTheTokenTheHostAndTheOwnOrigin) {
  const RequestGuard guard(kToken, 43117);
  const std::string t = std::string("/") + kToken;
  const char* host = "127.0.0.1:43117";
  const std::string_view own = "http://127.0.0.1:43117";
  const std::vector<GuardCase> cases = {
      {"the page", "GET", t + "/", host, {}, true, ""},
      {"the page with a query", "GET", t + "/?x=1", host, {}, true, ""},
      {"the events", "GET", t + "/events", host, own, true, "events"},
      {"a frame", "GET", t + "/page/3/", host, {}, true, "page/3/"},
      {"finish from the page", "POST", t + "/finish", host, own, true, "finish"},
      {"a form from the page", "POST", t + "/page/2/form", host, own, true, "page/2/form"},
      {"a form from the frame", "POST", t + "/page/2/form", host, "null", true, "page/2/form"},
      {"no token", "GET", "/", host, {}, false, "without the session's token"},
      {"no slash", "GET", "", host, {}, false, "a request for ''"},
      {"a full URL", "GET", "http://127.0.0.1:43117" + t + "/", host, {}, false, "a request for"},
      {"the token alone", "GET", t, host, {}, false, "without the session's token"},
      {"a token one shorter", "GET", t.substr(0, t.size() - 1) + "/", host, {}, false, "token"},
      {"a token one longer", "GET", t + "0/", host, {}, false, "token"},
      {"an upper-case token",
       "GET",
       "/00112233445566778899AABBCCDDEEFF/",
       host,
       {},
       false,
       "token"},
      {"an empty token", "GET", "//", host, {}, false, "token"},
      {"a rebinding name", "GET", t + "/", "evil.example:43117", {}, false, "'evil.example:43117'"},
      {"localhost", "GET", t + "/", "localhost:43117", {}, false, "host"},
      {"no port", "GET", t + "/", "127.0.0.1", {}, false, "host"},
      {"another port", "GET", t + "/", "127.0.0.1:43118", {}, false, "host"},
      {"no host", "GET", t + "/", "", {}, false, "host"},
      {"a post from elsewhere", "POST", t + "/finish", host, "http://evil.example", false,
       "origin 'http://evil.example'"},
      {"a post from another port", "POST", t + "/finish", host, "http://127.0.0.1:1", false,
       "origin"},
      {"a post over https", "POST", t + "/finish", host, "https://127.0.0.1:43117", false,
       "origin"},
      {"a post without an origin", "POST", t + "/finish", host, {}, false, "without an Origin"},
      {"null for finish", "POST", t + "/finish", host, "null", false, "origin 'null'"},
      {"null for a frame", "POST", t + "/page/2/", host, "null", false, "origin 'null'"},
      {"null for a page of no number", "POST", t + "/page/x/form", host, "null", false, "null"},
      {"null for no number", "POST", t + "/page//form", host, "null", false, "null"},
      {"a PUT", "PUT", t + "/finish", host, own, false, "a PUT request"},
      {"an OPTIONS", "OPTIONS", t + "/", host, own, false, "OPTIONS"},
  };
  for (const GuardCase& c : cases) {
    const auto verdict = guard.Check({c.method, c.target, c.host, c.origin});
    EXPECT_EQ(verdict.allowed, c.allowed) << c.name << ": " << verdict.why;
    if (c.allowed) {
      EXPECT_EQ(verdict.path, c.expected) << c.name;
    } else {
      EXPECT_NE(verdict.why.find(c.expected), std::string::npos) << c.name << ": " << verdict.why;
    }
  }
  EXPECT_EQ(guard.Origin(), own);
  EXPECT_EQ(guard.PageUrl(), "http://127.0.0.1:43117/" + std::string(kToken) + "/");
}

TEST(RequestGuardTest, ReasonsAreShortAndPrintable) {
  const RequestGuard guard(kToken, 1);
  const std::string host = "\x1b]0;owned\x07" + std::string(200, 'h');
  const std::string target = std::string("/") + kToken + "/";
  const auto verdict = guard.Check({"GET", target, host, {}});
  ASSERT_FALSE(verdict.allowed);
  EXPECT_LT(verdict.why.size(), 120U) << verdict.why;
  for (const char c : verdict.why) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << verdict.why;
}

TEST(RequestGuardTest, SecretsCompareWhole) {
  EXPECT_TRUE(SameSecret("abc", "abc"));
  EXPECT_FALSE(SameSecret("abc", "abd"));
  EXPECT_FALSE(SameSecret("abc", "ab"));
  EXPECT_FALSE(SameSecret("ab", "abc"));
  EXPECT_FALSE(SameSecret("", "a"));
  EXPECT_TRUE(SameSecret("", ""));
}

}  // namespace
}  // namespace Pellux
