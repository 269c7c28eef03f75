#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/server/http_transport_fixture.h"

namespace Pellux {
namespace {

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
  // That one header and nothing the client would add on its own about the body.
  int contentTypes = 0;
  for (const auto& header : requests[0].headers) {
    contentTypes += header.first == "Content-Type" ? 1 : 0;
    EXPECT_NE(header.first, "Expect");
  }
  EXPECT_EQ(contentTypes, 1);
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
  // The line names the call, the code and the system's text for it.
  const auto logged = Lines();
  ASSERT_EQ(logged.size(), 1U);
#ifdef _WIN32
  EXPECT_EQ(logged[0].rfind("HTTP exchange failed: HttpSendRequestA returned error 12029: ", 0), 0U)
      << logged[0];
  EXPECT_EQ(logged[0].find("no text"), std::string::npos) << logged[0];
#else
  EXPECT_NE(logged[0].find("Couldn't connect to server"), std::string::npos) << logged[0];
#endif
}

// Answers to HEAD, and answers 204 and 304, carry no body although their head announces a length:
// they are whole answers, not cut-off ones.
struct BodylessCase {
  const char* method;
  int status;
  bool failed;
};

class BodylessAnswerTest : public HttpTransportTest,
                           public ::testing::WithParamInterface<BodylessCase> {};

TEST_P(BodylessAnswerTest, IsTakenAsWholeWithoutComplaint) {
  server.Script(ServerReply::Document("<p>sixteen bytes</p>", GetParam().status));
  Send(Request(GetParam().method));
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_EQ(completed[0].failed, GetParam().failed);
  EXPECT_EQ(completed[0].body, "");
  EXPECT_EQ(Lines(), std::vector<std::string>{});
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].method, GetParam().method);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BodylessAnswerTest,
    ::testing::Values(BodylessCase{"HEAD", 200, false}, BodylessCase{"HEAD", 404, true},
                      BodylessCase{"GET", 204, true}, BodylessCase{"POST", 304, true}),
    [](const ::testing::TestParamInfo<BodylessCase>& each) {
      return std::string(each.param.method) + "_" + std::to_string(each.param.status);
    });

// The object path as WinInet takes it: with or without its leading "/", or none at all.
TEST_F(HttpTransportTest, PathWithoutALeadingSlashReachesTheSameObject) {
  const std::pair<std::string, std::string> paths[] = {
      {"device/tracker/uploadData", "/device/tracker/uploadData"}, {"", "/"}};
  std::size_t sent = 0;
  for (const auto& [path, received] : paths) {
    NetworkRequest request = Request();
    request.path = path;
    Send(request);
    // One at a time: the workers would take two requests in either order.
    const auto completed = Await(++sent);
    ASSERT_EQ(completed.size(), sent);
    EXPECT_FALSE(completed.back().failed) << "path '" << path << "'";
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), sent);
    EXPECT_EQ(requests.back().path, received);
  }
}

TEST_F(HttpTransportTest, Ipv6LiteralHostIsReached) {
  std::unique_ptr<ReferenceServer> v6;
  try {
    v6 = std::make_unique<ReferenceServer>(0, ReferenceServer::kLoopbackV6);
  } catch (const std::exception& error) {
    GTEST_SKIP() << "this machine has no IPv6 loopback to listen on: " << error.what();
  }
  v6->Script(ServerReply::Document("<v6/>"));
  NetworkRequest request = Request();
  request.host = "::1";
  request.port = v6->Port();
  Send(request);
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_FALSE(completed[0].failed) << ::testing::PrintToString(Lines());
  EXPECT_EQ(completed[0].body, "<v6/>");
  const auto requests = v6->Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_EQ(requests[0].path, "/device/tracker/uploadData");
}

// Hosts and ports from the settings that name no server: the exchange fails with a line in
// the log and reaches nobody, not even the server whose port a cut-down number would name.
struct HostileTarget {
  const char* name;
  std::string host;
  std::int64_t portOffset;  // added to the reference server's port

  friend void PrintTo(const HostileTarget& target, std::ostream* out) { *out << target.name; }
};

class HostileTargetTest : public HttpTransportTest,
                          public ::testing::WithParamInterface<HostileTarget> {};

TEST_P(HostileTargetTest, FailsWithALineAndReachesNobody) {
  NetworkRequest request = Request();
  request.host = GetParam().host;
  request.port = static_cast<std::int32_t>(server.Port() + GetParam().portOffset);
  Send(request);
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_TRUE(completed[0].failed);
  EXPECT_FALSE(Lines().empty());
  EXPECT_EQ(server.Requests().size(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, HostileTargetTest,
    ::testing::Values(HostileTarget{"Space", "127.0.0 .1", 0},
                      HostileTarget{"Slash", "127.0.0.1/x", 0},
                      HostileTarget{"UserPart", "user@127.0.0.1", 0},
                      HostileTarget{"LineBreak", "127.0.0.1\r\nX-Injected: 1", 0},
                      HostileTarget{"Empty", "", 0},
                      HostileTarget{"PortAbove65535", "127.0.0.1", 65536},
                      HostileTarget{"NegativePort", "127.0.0.1", -65536}),
    [](const ::testing::TestParamInfo<HostileTarget>& each) { return each.param.name; });

// Redirects are followed as WinInet follows them: 301, 302 and 303 continue as a GET without
// the body, 307 repeats the POST; the body of the redirect itself is not the answer.
struct RedirectCase {
  int status;
  const char* method;
  const char* body;
  bool absolute;
};

class RedirectTest : public HttpTransportTest,
                     public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(RedirectTest, IsFollowedToTheTargetsAnswer) {
  const std::string target = "/device/tracker/moved";
  const std::string location =
      GetParam().absolute ? "http://127.0.0.1:" + std::to_string(server.Port()) + target : target;
  server.Script(ServerReply::Redirect(GetParam().status, location));
  server.Script(ServerReply::Document("<target/>"));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_FALSE(completed[0].failed) << ::testing::PrintToString(Lines());
  EXPECT_EQ(completed[0].body, "<target/>");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[1].path, target);
  EXPECT_EQ(requests[1].method, GetParam().method);
  if (std::string(GetParam().method) == "GET") {
    EXPECT_EQ(requests[1].Header("Content-Type"), "");
  }
#ifdef _WIN32
  if (GetParam().status == 307) {
    GTEST_SKIP() << "Wine's WinInet repeats the POST after 307 without its body";
  }
#endif
  EXPECT_EQ(requests[1].body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(Statuses, RedirectTest,
                         ::testing::Values(RedirectCase{301, "GET", "", false},
                                           RedirectCase{302, "GET", "", false},
                                           RedirectCase{303, "GET", "", true},
                                           RedirectCase{307, "POST", "a=1&b=%5b2%5d", false}),
                         [](const ::testing::TestParamInfo<RedirectCase>& each) {
                           return "Status" + std::to_string(each.param.status);
                         });

TEST_F(HttpTransportTest, RedirectLoopFailsAfterTenRedirects) {
#ifdef _WIN32
  GTEST_SKIP() << "WinInet follows redirects on its own; Wine's follows them without a bound";
#endif
  for (int i = 0; i < 15; ++i) server.Script(ServerReply::Redirect(302, "/device/tracker/loop"));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_TRUE(completed[0].failed);
  EXPECT_EQ(server.Requests().size(), 11U);
}

TEST_F(HttpTransportTest, RedirectToAnotherProtocolIsNotFollowed) {
  server.Script(
      ServerReply::Redirect(302, "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/x"));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_TRUE(completed[0].failed);
  EXPECT_EQ(server.ConnectionsAccepted(), 1U);
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

// A service that stops while its exchanges hang must not wait for them: with limits that would
// keep each one for ten minutes, Stop returns once they are aborted and none reports.
TEST_F(HttpTransportTest, StoppingThePoolAbortsExchangesThatHang) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine's WinInet goes on waiting in a call whose handle another thread closed "
                  "(Windows ends it); the exchange under Wine waits for its receive time-out";
#endif
  HttpExchange::Limits patient = TestLimits();
  patient.stallTimeout = std::chrono::minutes(10);
  patient.totalTimeout = std::chrono::minutes(10);
  const auto hanging = HttpExchange::CreateForPlatform(
      [this](const std::string& line) {
        std::lock_guard guard(linesMutex);
        lines.push_back(line);
      },
      patient);
  std::atomic<int> reported{0};
  {
    NetworkWorkerPool stopping(*hanging);
    for (int i = 0; i < NetworkWorkerPool::kWorkers; ++i) {
      server.Script(ServerReply::Stalling());
      stopping.Submit(Request(), &caller, [&](bool, const std::string&, std::uint32_t, Context) {
        reported.fetch_add(1);
      });
    }
    ASSERT_TRUE(server.WaitForRequests(NetworkWorkerPool::kWorkers, std::chrono::seconds(30)));
    stopping.Stop();
  }
  EXPECT_EQ(reported.load(), 0);
  int aborted = 0;
  for (const std::string& line : Lines()) {
    aborted += line.find("aborted: the service is stopping") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(aborted, NetworkWorkerPool::kWorkers);
}

// Once aborted, the exchange fails whatever it is given, at once and without a connection.
TEST_F(HttpTransportTest, AnAbortedExchangeStartsNothing) {
  exchange->AbortAll();
  EXPECT_TRUE(exchange->Exchange(Request(), ProxySettings{}).failed);
  const auto said = Lines();
  ASSERT_EQ(said.size(), 1U);
  EXPECT_NE(said[0].find("not started: the service is stopping"), std::string::npos) << said[0];
  EXPECT_EQ(server.ConnectionsAccepted(), 0U);
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

}  // namespace
}  // namespace Pellux
