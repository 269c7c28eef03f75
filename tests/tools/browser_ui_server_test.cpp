// pelluxctl's browser page server over real loopback connections, on Linux and under Wine: what
// it serves, what it refuses (403), a form's way to the service's encoding, Finish, the event
// stream, and whether the page counts as open.

#include "tools/pelluxctl/browser/browser_ui_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/eventually.h"
#include "tests/support/loopback_http.h"

namespace Pellux {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using namespace std::chrono_literals;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class RecordingRequests : public BrowserUiRequests {
 public:
  bool OnFormPosted(int page, std::string formData) override {
    const std::lock_guard lock(mutex_);
    if (formData.size() > formLimit_) return false;
    forms_.emplace_back(page, std::move(formData));
    return true;
  }
  void LimitForms(std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    formLimit_ = bytes;
  }
  void OnFinishPressed() override {
    const std::lock_guard lock(mutex_);
    ++finishes_;
  }
  void OnProblem(const std::string& line) override {
    const std::lock_guard lock(mutex_);
    problems_.push_back(line);
  }

  std::vector<std::pair<int, std::string>> Forms() const {
    const std::lock_guard lock(mutex_);
    return forms_;
  }
  int Finishes() const {
    const std::lock_guard lock(mutex_);
    return finishes_;
  }
  std::vector<std::string> Problems() const {
    const std::lock_guard lock(mutex_);
    return problems_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<int, std::string>> forms_;
  int finishes_ = 0;
  std::vector<std::string> problems_;
  std::size_t formLimit_ = SIZE_MAX;
};

using Reply = LoopbackReply;

class BrowserUiServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server = BrowserUiServer::Start(kToken, requests, error);
    ASSERT_NE(server, nullptr) << error;
    const std::string url = server->Url();
    const std::string prefix = "http://127.0.0.1:";
    ASSERT_EQ(url.rfind(prefix, 0), 0U) << url;
    port = static_cast<std::uint16_t>(std::stoi(url.substr(prefix.size())));
    host = "127.0.0.1:" + std::to_string(port);
    origin = "http://" + host;
    base = std::string("/") + kToken + "/";
  }

  Reply Send(http::verb method, const std::string& target, std::optional<std::string> hostField,
             std::optional<std::string> originField = std::nullopt, std::string body = {},
             const std::string& type = "application/x-www-form-urlencoded") {
    return LoopbackHttp(port, method, target, std::move(hostField), std::move(originField),
                        std::move(body), type);
  }

  Reply Get(const std::string& target) { return Send(http::verb::get, target, host); }
  Reply Post(const std::string& target, std::string body, const std::string& from) {
    return Send(http::verb::post, target, host, from, std::move(body));
  }

  // An event stream: its bytes as they come, read for `time` or until `until` is in them.
  class Stream {
   public:
    Stream(std::uint16_t port, const std::string& target, const std::string& host) : socket_(io_) {
      socket_.connect(tcp::endpoint(asio::ip::address_v4::loopback(), port));
      const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
      asio::write(socket_, asio::buffer(request));
    }
    std::string ReadUntil(const std::string& until, std::chrono::milliseconds time = 10s) {
      const auto end = std::chrono::steady_clock::now() + time;
      while (received_.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
        std::array<char, 4096> chunk{};
        bool done = false;
        socket_.async_read_some(asio::buffer(chunk),
                                [&](boost::system::error_code error, std::size_t size) {
                                  if (!error) received_.append(chunk.data(), size);
                                  done = true;
                                });
        io_.restart();
        io_.run_for(std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()));
        if (!done) {
          socket_.cancel();
          io_.restart();
          io_.run();
        }
      }
      return received_;
    }
    void Close() { socket_.close(); }

   private:
    asio::io_context io_;
    tcp::socket socket_;
    std::string received_;
  };

  RecordingRequests requests;
  std::unique_ptr<BrowserUiServer> server;
  std::uint16_t port = 0;
  std::string host;
  std::string origin;
  std::string base;
};

TEST_F(BrowserUiServerTest, ServesThePageWithItsPolicyAtTheTokensAddress) {
  EXPECT_EQ(server->Url(), origin + base);
  const Reply page = Get(base);
  EXPECT_EQ(page.status, 200U);
  EXPECT_EQ(page.type, "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("sandbox=\"allow-forms\""), std::string::npos);
  // The nonce of the policy is the one the page's script and style carry.
  const std::string mark = "script-src 'nonce-";
  const std::size_t at = page.policy.find(mark);
  ASSERT_NE(at, std::string::npos) << page.policy;
  const std::string nonce = page.policy.substr(at + mark.size(), 32);
  EXPECT_NE(page.body.find("<script nonce=\"" + nonce + "\">"), std::string::npos);
  EXPECT_EQ(page.body.find("{{nonce}}"), std::string::npos);
  EXPECT_NE(page.policy.find("default-src 'none'"), std::string::npos);
  EXPECT_NE(page.policy.find("frame-ancestors 'none'"), std::string::npos);
  // Another response, another nonce.
  EXPECT_EQ(Get(base).policy.find(nonce), std::string::npos);
}

TEST_F(BrowserUiServerTest, RefusesWhatLacksTheTokenNamesAnotherHostOrPostsFromElsewhere) {
  struct Case {
    const char* name;
    http::verb method;
    std::string target;
    std::optional<std::string> host;
    std::optional<std::string> origin;
  };
  const std::string other = "http://attacker.example";
  server->ShowPage({400, 300, "<form><input name=a></form>"});
  const std::vector<Case> cases = {
      {"no token", http::verb::get, "/", host, {}},
      {"another token", http::verb::get, "/0123456789abcdef0123456789abcdee/", host, {}},
      {"a shorter token", http::verb::get, "/0123456789abcdef/", host, {}},
      {"the token without its slash", http::verb::get, std::string("/") + kToken, host, {}},
      {"the token in the query", http::verb::get, std::string("/?") + kToken, host, {}},
      {"a rebinding name", http::verb::get, base, "attacker.example:" + std::to_string(port), {}},
      {"localhost", http::verb::get, base, "localhost:" + std::to_string(port), {}},
      {"another port", http::verb::get, base, "127.0.0.1:1", {}},
      {"no host", http::verb::get, base, std::nullopt, {}},
      {"a post from another site", http::verb::post, base + "finish", host, other},
      {"a post without an origin", http::verb::post, base + "finish", host, std::nullopt},
      {"null outside a form", http::verb::post, base + "finish", host, "null"},
      {"a form from another site", http::verb::post, base + "page/1/form", host, other},
      {"a PUT", http::verb::put, base + "finish", host, origin},
      {"a DELETE", http::verb::delete_, base, host, origin},
  };
  for (const Case& c : cases) {
    const Reply reply = Send(c.method, c.target, c.host, c.origin, "a=1");
    EXPECT_EQ(reply.status, 403U) << c.name;
    EXPECT_EQ(reply.body, "Forbidden\n") << c.name;
  }
  EXPECT_EQ(requests.Finishes(), 0);
  EXPECT_TRUE(requests.Forms().empty());
  // Each reason is said, and said once however often it comes within a second.
  const auto problems = requests.Problems();
  EXPECT_EQ(std::set<std::string>(problems.begin(), problems.end()).size(), problems.size());
  EXPECT_EQ(std::count(problems.begin(), problems.end(),
                       "refused a request without the session's token (403)"),
            1);
  EXPECT_NE(
      std::find(problems.begin(), problems.end(),
                "refused a request for the host 'localhost:" + std::to_string(port) + "' (403)"),
      problems.end());
  EXPECT_NE(std::find(problems.begin(), problems.end(),
                      "refused a post from the origin 'http://attacker.example' (403)"),
            problems.end());
}

TEST_F(BrowserUiServerTest, AFormPostedInTheFrameReachesTheServiceInItsEncodingOnce) {
  EXPECT_EQ(Get(base + "page/1/").status, 410U);
  server->ShowPage({400, 300, "<FORM action='https://elsewhere.example/'><input name=a></FORM>"});
  const bool shown = Eventually([&] { return Get(base + "page/1/").status == 200; });
  ASSERT_TRUE(shown);
  const Reply frame = Get(base + "page/1/");
  EXPECT_EQ(frame.body, "<form action=\"" + origin + base +
                            "page/1/form\" method=\"post\" "
                            "enctype=\"application/x-www-form-urlencoded\"><input name=a></FORM>");
  EXPECT_NE(frame.policy.find("script-src 'none'"), std::string::npos) << frame.policy;
  EXPECT_NE(frame.policy.find("sandbox allow-forms"), std::string::npos) << frame.policy;

  // The frame has no origin of its own: its posts say "null".
  EXPECT_EQ(Post(base + "page/1/form", "user+name=Ann+Smith&mail=a%2Bb%40c.org&x", "null").status,
            200U);
  EXPECT_EQ(Post(base + "page/1/form", "user=again", "null").status, 409U);
  EXPECT_EQ(Post(base + "page/2/form", "user=later", origin).status, 410U);
  EXPECT_EQ(Post(base + "page/1/form", "a=%zz", "null").status, 409U);
  EXPECT_EQ(Send(http::verb::post, base + "page/1/form", host, "null", "a=1", "text/plain").status,
            415U);
  const auto forms = requests.Forms();
  ASSERT_EQ(forms.size(), 1U);
  EXPECT_EQ(forms[0],
            (std::pair<int, std::string>{1, "user%20name=Ann%20Smith&mail=a%2bb%40c%2eorg&x="}));

  // A new page, a new form; a bad escape is refused and the page may still be answered.
  server->ShowPage({-1, -1, "<form></form>"});
  ASSERT_TRUE(Eventually([&] { return Get(base + "page/2/").status == 200; }));
  EXPECT_EQ(Get(base + "page/1/").status, 410U);
  EXPECT_EQ(Post(base + "page/2/form", "a=%zz", origin).status, 400U);
  // A form the service cannot take is not sent, and the page may be answered again.
  requests.LimitForms(10);
  EXPECT_EQ(Post(base + "page/2/form", "text=" + std::string(20, 'x'), origin).status, 413U);
  requests.LimitForms(SIZE_MAX);
  EXPECT_EQ(Post(base + "page/2/form", "", origin).status, 200U);
  EXPECT_EQ(requests.Forms().size(), 2U);
  EXPECT_EQ(requests.Forms()[1], (std::pair<int, std::string>{2, ""}));
}

TEST_F(BrowserUiServerTest, FinishAndUnknownAddresses) {
  EXPECT_EQ(Post(base + "finish", "", origin).status, 204U);
  EXPECT_EQ(requests.Finishes(), 1);
  EXPECT_EQ(Get(base + "finish").status, 404U);
  EXPECT_EQ(Get(base + "nothing").status, 404U);
  EXPECT_EQ(Get(base + "page/0/").status, 404U);
  EXPECT_EQ(Get(base + "page/-1/").status, 404U);
  EXPECT_EQ(Get(base + "page/99999999999999999999/").status, 404U);
  EXPECT_EQ(Post(base + "events", "", origin).status, 404U);
  // A body past the limit is refused before it is read.
  EXPECT_EQ(Post(base + "page/1/form", std::string(65 * 1024, 'a'), origin).status, 413U);
}

TEST_F(BrowserUiServerTest, TheStreamGivesWhatHappenedThenEachChangeAndTellsWhetherThePageIsOpen) {
  const auto now = std::chrono::steady_clock::now();
  EXPECT_EQ(server->Presence(now), PagePresence::State::kNotOpened);
  server->ShowInfo("Welcome");
  server->ShowStatus(R"({"mode":"setup"})");
  {
    Stream stream(port, base + "events", host);
    std::string text = stream.ReadUntil("event: status");
    EXPECT_NE(text.find("Content-Type: text/event-stream"), std::string::npos) << text;
    EXPECT_NE(text.find("event: info\ndata: {\"text\":\"Welcome\"}\n\n"), std::string::npos);
    EXPECT_NE(text.find("event: status\ndata: {\"mode\":\"setup\"}\n\n"), std::string::npos);
    EXPECT_EQ(server->Presence(std::chrono::steady_clock::now() + 1h), PagePresence::State::kOpen);

    server->ShowPage({560, 320, "<p>one</p>"});
    text = stream.ReadUntil("event: page");
    EXPECT_NE(text.find("event: page\ndata: {\"height\":320,\"number\":1,\"width\":560}\n\n"),
              std::string::npos)
        << text;
    server->ShowEnded("The session has ended.");
    text = stream.ReadUntil("event: ended");
    EXPECT_NE(text.find("event: ended\ndata: {\"text\":\"The session has ended.\"}"),
              std::string::npos);
    stream.Close();
  }
  // Closed: open again for the moments a reload takes, then closed.
  ASSERT_TRUE(Eventually([&] {
    return server->Presence(std::chrono::steady_clock::now() + BrowserUiServer::kReloadGrace +
                            1s) == PagePresence::State::kClosed;
  }));
  EXPECT_EQ(server->Presence(std::chrono::steady_clock::now()), PagePresence::State::kOpen);
}

}  // namespace
}  // namespace Pellux
