#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/server/http_transport_fixture.h"

// The per-connection proxy options as libcurl is given them: the Windows lists converted, and
// what libcurl cannot evaluate replaced by a direct connection. (WinInet takes the options as
// they are and evaluates them itself.)

namespace Pellux {
namespace {

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
