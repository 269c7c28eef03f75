// The HTTP exchange over libcurl.

#include <curl/curl.h>

#include <boost/algorithm/string/case_conv.hpp>
#include <mutex>
#include <utility>

#include "base/log_format.h"
#include "server/curl_url_builder.h"
#include "server/http_exchange.h"
#include "server/proxy_lists.h"

namespace Pellux {
namespace {

constexpr const char* kFormContentType = "Content-Type: application/x-www-form-urlencoded";

// libcurl's global state must be set up once, before any other thread uses it.
void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Download {
  std::string* body;
  std::size_t limit;
  bool tooLarge = false;
};

// Ends an exchange that moved no byte either way for the stall time-out. libcurl's own
// low-speed check averages over several seconds; this one needs only the last movement.
struct Progress {
  using Clock = std::chrono::steady_clock;
  std::chrono::milliseconds stallTimeout;
  Clock::time_point lastMovement = Clock::now();
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
  bool stalled = false;
};

int OnProgress(void* context, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
  auto& progress = *static_cast<Progress*>(context);
  const auto now = Progress::Clock::now();
  if (down != progress.lastDown || up != progress.lastUp) {
    progress.lastDown = down;
    progress.lastUp = up;
    progress.lastMovement = now;
    return 0;
  }
  if (now - progress.lastMovement < progress.stallTimeout) return 0;
  progress.stalled = true;
  return 1;  // libcurl ends the transfer
}

std::size_t Append(char* data, std::size_t size, std::size_t count, void* context) {
  auto& download = *static_cast<Download*>(context);
  const std::size_t bytes = size * count;
  if (download.body->size() + bytes > download.limit) {
    download.tooLarge = true;
    return 0;  // libcurl ends the transfer with a write error
  }
  download.body->append(data, bytes);
  return bytes;
}

// Frees what one exchange made, whatever way it ends.
struct Handles {
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  ~Handles() {
    if (headers != nullptr) curl_slist_free_all(headers);
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

class CurlHttpExchange final : public HttpExchange {
 public:
  CurlHttpExchange(Log log, Limits limits) : HttpExchange(std::move(log), std::move(limits)) {
    InitialiseCurlOnce();
  }

  HttpResult Exchange(const NetworkRequest& request, const ProxySettings& proxy) override {
    HttpResult result;
    const std::string protocol = boost::algorithm::to_lower_copy(request.protocol);
    std::string scheme;
    if (protocol == "http") {
      scheme = request.secure ? "https" : "http";
    } else if (protocol == "ftp" || protocol == "gopher") {
      scheme = protocol;
    } else {
      Note("HTTP exchange refused: unknown protocol '%s'", request.protocol);
      return result;
    }

    Handles handles;
    CURL* curl = handles.curl;
    if (curl == nullptr) {
      Note("HTTP exchange failed: curl_easy_init() returned nothing");
      return result;
    }
    const CurlUrl url = BuildCurlUrl(scheme, request.host, request.port, request.path);
    if (url.url.empty()) {
      Note("HTTP exchange refused: %s", url.error);
      return result;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!request.agent.empty()) curl_easy_setopt(curl, CURLOPT_USERAGENT, request.agent.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits().connectTimeout.count()));
    Progress progress{limits().stallTimeout};
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
    // Certificates are checked against the system's store, name and dates included.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!limits().certificateAuthorities.empty()) {
      curl_easy_setopt(curl, CURLOPT_CAINFO, limits().certificateAuthorities.c_str());
    }

    // Only the headers the exchange needs: libcurl's own "Accept" and "Expect" are dropped.
    handles.headers = curl_slist_append(handles.headers, "Accept:");
    handles.headers = curl_slist_append(handles.headers, "Expect:");
    if (request.method == "POST") {
      handles.headers = curl_slist_append(handles.headers, kFormContentType);
      curl_easy_setopt(curl, CURLOPT_POST, 1L);
      curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                       static_cast<curl_off_t>(request.body.size()));
    } else if (request.method == "GET") {
      curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
      curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, handles.headers);

    const std::string proxyName = ChooseProxy(proxy, scheme);
    const std::string noProxy = proxy.selection == ProxySettings::kPerConnection
                                    ? NoProxyList(proxy.bypass)
                                    : std::string();
    // An empty name also keeps libcurl from taking a proxy from the environment.
    curl_easy_setopt(curl, CURLOPT_PROXY, proxyName.c_str());
    if (!noProxy.empty()) curl_easy_setopt(curl, CURLOPT_NOPROXY, noProxy.c_str());

    Download download{&result.body, limits().maxResponseBytes};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);

    const CURLcode code = curl_easy_perform(curl);
    if (download.tooLarge) {
      Note("HTTP exchange failed: the answer from %s is larger than %d bytes", request.host,
           limits().maxResponseBytes);
      return result;
    }
    if (progress.stalled) {
      Note("HTTP exchange with %s failed: nothing moved for %d ms", request.host,
           static_cast<long long>(limits().stallTimeout.count()));
      return result;
    }
    if (code != CURLE_OK) {
      Note("HTTP exchange with %s failed: %s", request.host, curl_easy_strerror(code));
      return result;
    }
    long status = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200) {
      result.failed = false;
    }
    return result;
  }

 private:
  // The proxy the settings name for this exchange, or empty for a direct connection.
  std::string ChooseProxy(const ProxySettings& proxy, const std::string& scheme) const {
    if (proxy.selection == ProxySettings::kOverride) return proxy.serverOverride;
    if (proxy.selection != ProxySettings::kPerConnection) return {};
    const bool automatic =
        (proxy.flags & (ProxySettings::kAutoConfigUrl | ProxySettings::kAutoDetect)) != 0 &&
        (proxy.flags != 0xFFFFFFFF);
    std::string chosen;
    if ((proxy.flags & ProxySettings::kManualProxy) != 0) {
      chosen = ProxyForScheme(proxy.server, scheme);
    }
    if (automatic) {
      Note(
          "Proxy auto-configuration cannot be evaluated here; %s",
          chosen.empty() ? std::string("connecting directly") : "using the proxy server " + chosen);
    }
    return chosen;
  }
};

}  // namespace

std::unique_ptr<HttpExchange> HttpExchange::CreateForPlatform(Log log, Limits limits) {
  return std::make_unique<CurlHttpExchange>(std::move(log), limits);
}

}  // namespace Pellux
