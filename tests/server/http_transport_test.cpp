#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/http_exchange.h"
#include "server/network_worker_pool.h"
#include "sim/reference_server.h"

namespace Pellux {
namespace {

struct Completed {
  bool failed = false;
  std::string body;
  std::uint32_t requestNumber = 0;
  Context context = kNoContext;
};

// The workers with libcurl against the reference server on loopback.
class HttpTransportTest : public ::testing::Test {
 protected:
  static HttpExchange::Limits TestLimits() {
    HttpExchange::Limits limits;
    limits.connectTimeout = std::chrono::milliseconds(2000);
    limits.stallTimeout = std::chrono::milliseconds(200);
    return limits;
  }

  void SetUp() override { ProcessProxySettings::Set(ProxySettings{}); }

  NetworkRequest Request(const std::string& method = "POST") const {
    NetworkRequest request;
    request.method = method;
    request.host = "127.0.0.1";
    request.port = server.Port();
    request.path = "/device/tracker/uploadData";
    request.body = "a=1&b=%5b2%5d";
    request.requestNumber = 7;
    return request;
  }

  void Send(NetworkRequest request) {
    pool.Submit(std::move(request), &caller,
                [this](bool failed, const std::string& body, std::uint32_t number, Context ctx) {
                  std::lock_guard guard(mutex);
                  completions.push_back({failed, body, number, ctx});
                  done.notify_all();
                });
  }

  // Waits for `count` completions in all.
  std::vector<Completed> Await(std::size_t count) {
    std::unique_lock guard(mutex);
    done.wait_for(guard, std::chrono::seconds(30), [&] { return completions.size() >= count; });
    return completions;
  }

  // Declared before the pool, whose workers use them until it stops.
  const std::string caller = "caller";
  std::mutex mutex;
  std::condition_variable done;
  std::vector<Completed> completions;
  std::vector<std::string> lines;
  std::mutex linesMutex;
  std::unique_ptr<HttpExchange> exchange = HttpExchange::CreateForPlatform(
      [this](const std::string& line) {
        std::lock_guard guard(linesMutex);
        lines.push_back(line);
      },
      TestLimits());
  ReferenceServer server;
  NetworkWorkerPool pool{*exchange};
};

TEST_F(HttpTransportTest, PostCarriesTheFormTypeAndBodyAndHandsTheAnswerBack) {
  server.Script(ServerReply::Document("<p/>"));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_FALSE(completed[0].failed);
  EXPECT_EQ(completed[0].body, "<p/>");
  EXPECT_EQ(completed[0].requestNumber, 7U);
  EXPECT_EQ(completed[0].context, &caller);

  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/device/tracker/uploadData");
  EXPECT_EQ(requests[0].body, "a=1&b=%5b2%5d");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  std::vector<std::string> names;
  for (const auto& header : requests[0].headers) names.push_back(header.first);
  EXPECT_EQ(names, (std::vector<std::string>{"Host", "Content-Type", "Content-Length"}));
}

TEST_F(HttpTransportTest, GetSendsNeitherTheFormTypeNorTheBody) {
  Send(Request("GET"));
  Await(1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].Header("Content-Type"), "");
  EXPECT_EQ(requests[0].body, "");
}

TEST_F(HttpTransportTest, AnyStatusBut200FailsAndStillHandsTheBodyOver) {
  server.Script(ServerReply::Document("not here", 404));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_TRUE(completed[0].failed);
  EXPECT_EQ(completed[0].body, "not here");
}

TEST_F(HttpTransportTest, RefusedConnectionFailsWithAnEmptyText) {
  NetworkRequest request = Request();
  {
    ReferenceServer gone;
    request.port = gone.Port();
  }
  Send(request);
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_TRUE(completed[0].failed);
  EXPECT_EQ(completed[0].body, "");
}

class HostileServerTest : public HttpTransportTest,
                          public ::testing::WithParamInterface<ServerReply> {};

TEST_P(HostileServerTest, FailsTheExchangeExactlyOnce) {
  server.Script(GetParam());
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_TRUE(completed[0].failed);
  pool.Stop();
  EXPECT_EQ(completions.size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(Replies, HostileServerTest,
                         ::testing::Values(ServerReply::Stalling(),
                                           ServerReply::ClosingMidBody("<p>"),
                                           ServerReply::Huge(20 * 1024 * 1024)));

TEST_F(HttpTransportTest, AnAnswerOverSixteenMebibytesIsRefused) {
  server.Script(ServerReply::Huge(HttpExchange::kMaxResponseBytes + 1));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  for (const Completed& each : completed) EXPECT_TRUE(each.failed);
  std::lock_guard guard(linesMutex);
  bool capped = false;
  for (const std::string& line : lines) {
    capped = capped || line.find("is larger than 16777216 bytes") != std::string::npos;
  }
  EXPECT_TRUE(capped);
}

TEST_F(HttpTransportTest, AnAnswerOfExactlySixteenMebibytesIsTaken) {
  server.Script(ServerReply::Huge(HttpExchange::kMaxResponseBytes));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_FALSE(completed[0].failed);
  EXPECT_EQ(completed[0].body.size(), HttpExchange::kMaxResponseBytes);
}

TEST_F(HttpTransportTest, PlainRequestsReportNothing) {
  NetworkRequest request = Request();
  request.reportResult = false;
  Send(request);
  Send(Request());
  Await(1);
  ASSERT_TRUE(server.WaitForRequests(2, std::chrono::seconds(10)));
  pool.Stop();
  EXPECT_EQ(completions.size(), 1U);
}

TEST_F(HttpTransportTest, AStoppedPoolDropsRequestsSilently) {
  pool.Stop();
  EXPECT_FALSE(pool.IsRunning());
  Send(Request());
  EXPECT_FALSE(server.WaitForRequests(1, std::chrono::milliseconds(100)));
  EXPECT_TRUE(completions.empty());
}

TEST_F(HttpTransportTest, OverrideProxyCarriesTheRequest) {
  // The reference server stands in for the proxy: a proxied request names the whole URL.
  ProxySettings proxy;
  proxy.selection = ProxySettings::kOverride;
  proxy.serverOverride = "127.0.0.1:" + std::to_string(server.Port());
  ProcessProxySettings::Set(proxy);
  NetworkRequest request = Request();
  request.host = "upload.example.invalid";
  request.port = 8001;
  Send(request);
  Await(1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].path, "http://upload.example.invalid:8001/device/tracker/uploadData");
  ProcessProxySettings::Set(ProxySettings{});
}

TEST_F(HttpTransportTest, PerConnectionProxyHonoursTheBypassList) {
  ProxySettings proxy;
  proxy.selection = ProxySettings::kPerConnection;
  proxy.flags = ProxySettings::kManualProxy;
  proxy.server = "http=127.0.0.1:" + std::to_string(server.Port());
  proxy.bypass = "*.example.invalid";
  ProcessProxySettings::Set(proxy);
  NetworkRequest request = Request();
  request.host = "upload.elsewhere.invalid";
  Send(request);
  Await(1);
  // The bypassed name is tried directly and cannot be resolved: no request reaches the proxy.
  request.host = "upload.example.invalid";
  Send(request);
  const auto completed = Await(2);
  ASSERT_EQ(completed.size(), 2U);
  EXPECT_TRUE(completed[1].failed);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].path, "http://upload.elsewhere.invalid:" + std::to_string(server.Port()) +
                                  "/device/tracker/uploadData");
  ProcessProxySettings::Set(ProxySettings{});
}

TEST_F(HttpTransportTest, AutoConfigurationFallsBackToADirectConnectionWithALine) {
  ProxySettings proxy;
  proxy.selection = ProxySettings::kPerConnection;
  proxy.flags = ProxySettings::kAutoConfigUrl;
  proxy.autoConfigUrl = "http://wpad.invalid/proxy.pac";
  ProcessProxySettings::Set(proxy);
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_FALSE(completed[0].failed);
  std::lock_guard guard(linesMutex);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Proxy auto-configuration cannot be evaluated here; connecting directly"}));
  ProcessProxySettings::Set(ProxySettings{});
}

}  // namespace
}  // namespace Pellux
