#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/http_exchange.h"
#include "tests/support/child_process.h"

namespace Pellux {
namespace {

// A TLS server on loopback: openssl's own, with a certificate made for the test and signed by
// a test authority, run as the test's child.
class TlsServer {
 public:
  // `subjectAltName` such as "DNS:wrong.example" or "IP:127.0.0.1".
  TlsServer(const std::filesystem::path& folder, const std::string& subjectAltName)
      : folder_(folder) {
    const std::string dir = folder.string();
    const std::string make =
        "cd '" + dir + "' && " +
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 1 "
        "-subj /CN=Pellux-Test-CA >/dev/null 2>&1 && "
        "openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr "
        "-subj /CN=server >/dev/null 2>&1 && "
        "printf 'subjectAltName=" +
        subjectAltName +
        "\\n' > ext.cnf && "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
        "-out server.pem -days 1 -extfile ext.cnf >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return;
    port_ = ChildProcess::FreeLoopbackPort();
    server_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_), "-cert",
        dir + "/server.pem", "-key", dir + "/server.key", "-www", "-quiet"});
    started_ = server_->Started() && ChildProcess::WaitUntilListening(port_);
  }

  [[nodiscard]] bool Started() const { return started_; }
  [[nodiscard]] std::uint16_t Port() const { return port_; }
  [[nodiscard]] std::string Authority() const { return (folder_ / "ca.pem").string(); }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<ChildProcess> server_;
  std::uint16_t port_ = 0;
  bool started_ = false;
};

class HttpTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("pellux-tls-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  HttpResult Fetch(const TlsServer& server, bool trustTheTestAuthority) {
    HttpExchange::Limits limits;
    if (trustTheTestAuthority) limits.certificateAuthorities = server.Authority();
    const auto exchange = HttpExchange::CreateForPlatform(nullptr, limits);
    NetworkRequest request;
    request.method = "GET";
    request.host = "127.0.0.1";
    request.port = server.Port();
    request.path = "/";
    request.secure = true;
    return exchange->Exchange(request, ProxySettings{});
  }

  std::filesystem::path folder_;
};

TEST_F(HttpTlsTest, AcceptsACertificateForTheNameFromATrustedAuthority) {
  TlsServer server(folder_, "IP:127.0.0.1");
  ASSERT_TRUE(server.Started());
  EXPECT_FALSE(Fetch(server, true).failed);
}

TEST_F(HttpTlsTest, RefusesACertificateMadeForAnotherName) {
  TlsServer server(folder_, "DNS:wrong.example");
  ASSERT_TRUE(server.Started());
  EXPECT_TRUE(Fetch(server, true).failed);
}

TEST_F(HttpTlsTest, RefusesACertificateFromAnAuthorityNobodyTrusts) {
  TlsServer server(folder_, "IP:127.0.0.1");
  ASSERT_TRUE(server.Started());
  EXPECT_TRUE(Fetch(server, false).failed);
}

}  // namespace
}  // namespace Pellux
