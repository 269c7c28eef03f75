// The server probe of Linux: one GET with libcurl, the HTTP client the daemon uses.

#include <curl/curl.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "server/curl_url_builder.h"
#include "tools/pelluxctl/doctor/server_probe.h"

namespace Pellux {
namespace {

// The answer's body is not wanted; past this much the transfer stops, the answer is in.
constexpr std::size_t kMaxBodyBytes = std::size_t{64} * 1024;

struct Body {
  std::size_t bytes = 0;
  bool enough = false;
};

std::size_t Discard(char* /*data*/, std::size_t size, std::size_t count, void* context) {
  auto& body = *static_cast<Body*>(context);
  body.bytes += size * count;
  if (body.bytes <= kMaxBodyBytes) return size * count;
  body.enough = true;
  return 0;  // libcurl ends the transfer with a write error
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

class CurlServerProbe final : public ServerProbe {
 public:
  CurlServerProbe() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  }

  ServerAnswer Probe(const ServerTarget& target, std::chrono::milliseconds timeout) override {
    ServerAnswer answer;
    const CurlUrl url = BuildCurlUrl("http", target.host, target.port, target.path);
    if (url.url.empty()) {
      answer.detail = url.error;
      return answer;
    }
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
      answer.detail = "curl_easy_init() returned nothing";
      return answer;
    }
    std::array<char, CURL_ERROR_SIZE> message{};
    Body body;
    CURL* handle = curl.get();
    const long milliseconds = static_cast<long>(timeout.count());
    // An empty proxy and no-proxy list keep libcurl from taking either from the environment:
    // the daemon does not.
    const auto set = [&](CURLoption option, const char* name, auto value) {
      const CURLcode result = curl_easy_setopt(handle, option, value);
      if (result != CURLE_OK && answer.detail.empty()) {
        answer.detail = std::string("curl_easy_setopt(") + name + ") failed with " +
                        std::to_string(static_cast<int>(result)) + ": " +
                        curl_easy_strerror(result);
      }
      return result == CURLE_OK;
    };
    if (!set(CURLOPT_URL, "CURLOPT_URL", url.url.c_str()) ||
        !set(CURLOPT_PROXY, "CURLOPT_PROXY", target.proxy.c_str()) ||
        !set(CURLOPT_NOPROXY, "CURLOPT_NOPROXY", "") ||
        !set(CURLOPT_HTTPGET, "CURLOPT_HTTPGET", 1L) ||
        !set(CURLOPT_NOSIGNAL, "CURLOPT_NOSIGNAL", 1L) ||
        !set(CURLOPT_CONNECTTIMEOUT_MS, "CURLOPT_CONNECTTIMEOUT_MS", milliseconds) ||
        !set(CURLOPT_TIMEOUT_MS, "CURLOPT_TIMEOUT_MS", milliseconds) ||
        !set(CURLOPT_ERRORBUFFER, "CURLOPT_ERRORBUFFER", message.data()) ||
        !set(CURLOPT_WRITEFUNCTION, "CURLOPT_WRITEFUNCTION", Discard) ||
        !set(CURLOPT_WRITEDATA, "CURLOPT_WRITEDATA", &body)) {
      return answer;
    }
    const CURLcode code = curl_easy_perform(handle);
    answer.detail = message[0] != '\0' ? std::string(message.data()) : curl_easy_strerror(code);
    if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && body.enough)) {
      answer.outcome = ServerAnswer::Outcome::kAnswered;
      curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
      answer.detail.clear();
      return answer;
    }
    switch (code) {
      case CURLE_COULDNT_RESOLVE_HOST:
        answer.outcome = ServerAnswer::Outcome::kUnresolved;
        break;
      case CURLE_COULDNT_RESOLVE_PROXY:
        answer.outcome = ServerAnswer::Outcome::kProxyUnresolved;
        break;
      case CURLE_COULDNT_CONNECT:
        answer.outcome = ServerAnswer::Outcome::kRefused;
        break;
      case CURLE_OPERATION_TIMEDOUT:
        answer.outcome = ServerAnswer::Outcome::kTimedOut;
        break;
      default:
        answer.outcome = ServerAnswer::Outcome::kFailed;
        break;
    }
    return answer;
  }
};

}  // namespace

std::unique_ptr<ServerProbe> ServerProbe::CreateForPlatform() {
  return std::make_unique<CurlServerProbe>();
}

}  // namespace Pellux
