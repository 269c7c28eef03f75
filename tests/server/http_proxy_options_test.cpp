#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/http_transport_fixture.h"
#include "tests/support/child_process.h"

// The per-connection proxy options as libcurl is given them: the server list converted, the
// bypass list decided per request by the Windows rules, and what libcurl cannot evaluate
// replaced by a direct connection. (WinInet takes the options as they are and evaluates them
// itself.)

namespace Pellux {
namespace {

// A real proxy on loopback: tinyproxy with its own configuration in a temporary folder, run in
// the foreground as our child for the life of the object, and reaped when it goes.
class TinyProxy {
 public:
  TinyProxy() {
    folder_ = std::filesystem::temp_directory_path() /
              ("pellux-tinyproxy-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder_);
    port_ = ChildProcess::FreeLoopbackPort();
    std::ofstream config(folder_ / "tinyproxy.conf");
    config << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n"
           << "Allow 127.0.0.1\n"
           << "LogFile \"" << (folder_ / "log").string() << "\"\nLogLevel Info\n";
    config.close();
    proxy_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"tinyproxy", "-d", "-c", (folder_ / "tinyproxy.conf").string()});
    started_ = proxy_->Started() && ChildProcess::WaitUntilListening(port_);
  }

  ~TinyProxy() {
    proxy_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  [[nodiscard]] bool Started() const { return started_; }
  [[nodiscard]] std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<ChildProcess> proxy_;
  std::uint16_t port_ = 0;
  bool started_ = false;
};

class RealProxyTest : public HttpTransportTest {
 protected:
  void SetUp() override {
    HttpTransportTest::SetUp();
    ASSERT_TRUE(proxy.Started()) << "tinyproxy could not be started";
  }
  void TearDown() override { ProcessProxySettings::Set(ProxySettings{}); }

  // Whether the request the server got came through tinyproxy.
  static bool CameThroughTheProxy(const RecordedRequest& request) {
    return request.Header("Via").find("tinyproxy") != std::string::npos;
  }

  // Sends `requests` one after the other and tells, for each that reached the server, whether
  // it came through tinyproxy.
  std::vector<bool> Routes(const std::vector<NetworkRequest>& requests) {
    for (std::size_t i = 0; i < requests.size(); ++i) {
      Send(requests[i]);
      Await(i + 1);
    }
    std::vector<bool> routes;
    for (const auto& recorded : server.Requests()) routes.push_back(CameThroughTheProxy(recorded));
    return routes;
  }

  TinyProxy proxy;
};

TEST_F(RealProxyTest, OverrideServerCarriesTheExchange) {
  ProxySettings settings;
  settings.selection = ProxySettings::kOverride;
  settings.serverOverride = proxy.Address();
  ProcessProxySettings::Set(settings);
  server.Script(ServerReply::Document("<p/>"));
  Send(Request());
  const auto completed = Await(1);
  ASSERT_EQ(completed.size(), 1U);
  EXPECT_FALSE(completed[0].failed);
  EXPECT_EQ(completed[0].body, "<p/>");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_TRUE(CameThroughTheProxy(requests[0]));
  EXPECT_EQ(requests[0].body, "a=1&b=%5b2%5d");
}

TEST_F(RealProxyTest, PerConnectionServerListCarriesTheExchangeAndTheBypassListGoesAround) {
  ProxySettings settings;
  settings.selection = ProxySettings::kPerConnection;
  settings.flags = ProxySettings::kDirect | ProxySettings::kManualProxy;
  settings.server = "http=" + proxy.Address() + ";https=" + proxy.Address();
  ProcessProxySettings::Set(settings);
  Send(Request());
  Await(1);
  // A wildcard entry, as Windows lists have them.
  settings.bypass = "*.example.invalid;127.0.0.*";
  ProcessProxySettings::Set(settings);
  Send(Request());
  Await(2);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_TRUE(CameThroughTheProxy(requests[0]));
  EXPECT_FALSE(CameThroughTheProxy(requests[1]));
}

TEST_F(RealProxyTest, LocalEntryGoesAroundForNamesWithoutADotOnly) {
  ProxySettings settings;
  settings.selection = ProxySettings::kPerConnection;
  settings.flags = ProxySettings::kManualProxy;
  settings.server = proxy.Address();
  settings.bypass = "<local>";
  ProcessProxySettings::Set(settings);
  NetworkRequest dotless = Request();
  dotless.host = "localhost";
  // 127.0.0.1 has dots: through the proxy, as on Windows.
  EXPECT_EQ(Routes({Request(), dotless}), (std::vector<bool>{true, false}));
}

TEST_F(RealProxyTest, OnlyTheSettingsBypassListGoesAroundNotTheEnvironments) {
  ProxySettings settings;
  settings.selection = ProxySettings::kPerConnection;
  settings.flags = ProxySettings::kManualProxy;
  settings.server = proxy.Address();
  ProcessProxySettings::Set(settings);
  ::setenv("no_proxy", "127.0.0.1", 1);
  Send(Request());
  Await(1);
  ::unsetenv("no_proxy");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_TRUE(CameThroughTheProxy(requests[0]));
}

TEST_F(RealProxyTest, DirectSelectionIgnoresTheProxyEvenFromTheEnvironment) {
  ::setenv("http_proxy", ("http://" + proxy.Address()).c_str(), 1);
  Send(Request());
  Await(1);
  ::unsetenv("http_proxy");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1U);
  EXPECT_FALSE(CameThroughTheProxy(requests[0]));
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
