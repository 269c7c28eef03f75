// The HTTP exchange over libcurl.

#include <curl/curl.h>

#include <atomic>
#include <boost/algorithm/string/case_conv.hpp>
#include <mutex>
#include <utility>

#include "base/log_format.h"
#include "server/curl_url_builder.h"
#include "server/http_exchange.h"
#include "server/proxy_bypass.h"
#include "server/proxy_lists.h"

namespace Pellux {
namespace {

constexpr long kMaxRedirects = 10;

// The port a request reaches: port 0 stands for the scheme's own.
std::int32_t PortOrDefault(std::int32_t port, const std::string& scheme) {
  if (port != 0) return port;
  if (scheme == "https") return 443;
  if (scheme == "ftp") return 21;
  if (scheme == "gopher") return 70;
  return 80;
}

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
  // Set by AbortAll from another thread; libcurl calls OnProgress at least once a second.
  const std::atomic<bool>* stopping;
  Clock::time_point lastMovement = Clock::now();
  curl_off_t lastDown = 0;
  curl_off_t lastUp = 0;
  bool stalled = false;
};

int OnProgress(void* context, curl_off_t /*downTotal*/, curl_off_t down, curl_off_t /*upTotal*/,
               curl_off_t up) {
  auto& progress = *static_cast<Progress*>(context);
  if (progress.stopping->load()) return 1;  // libcurl ends the transfer
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

    if (Aborted()) {
      Note("HTTP exchange with %s not started: the service is stopping", request.host);
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
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits().totalTimeout.count()));
    Progress progress{limits().stallTimeout, &AbortFlag()};
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
      // libcurl sends "Content-Type: application/x-www-form-urlencoded" with these fields on
      // its own, and leaves it out once a redirect has turned the POST into a GET; a header
      // of our own would go on with that GET.
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

    // The bypass list is decided here, per request, by the rules WinInet applies; an empty
    // NOPROXY keeps libcurl from taking a list of its own from the environment, as an empty
    // PROXY keeps it from taking a proxy from there.
    const std::string proxyName = ChooseProxy(proxy, scheme, request);
    if (!SetOption(curl, CURLOPT_PROXY, "CURLOPT_PROXY", proxyName.c_str()) ||
        !SetOption(curl, CURLOPT_NOPROXY, "CURLOPT_NOPROXY", "")) {
      return result;
    }

    // Redirects are followed as WinInet follows them, but at most ten and only to HTTP or
    // HTTPS: a server must not send the exchange to a file or to another protocol. A POST
    // answered 301, 302 or 303 goes on as a GET without its body (POSTREDIR 0); after 307
    // or 308 it is repeated.
    if (!SetOption(curl, CURLOPT_FOLLOWLOCATION, "CURLOPT_FOLLOWLOCATION", 1L) ||
        !SetOption(curl, CURLOPT_MAXREDIRS, "CURLOPT_MAXREDIRS", kMaxRedirects) ||
        !SetOption(curl, CURLOPT_POSTREDIR, "CURLOPT_POSTREDIR", 0L) ||
#if LIBCURL_VERSION_NUM >= 0x075500  // 7.85.0 brought the text form and deprecated the bits
        !SetOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, "CURLOPT_REDIR_PROTOCOLS_STR", "http,https")
#else
        !SetOption(curl, CURLOPT_REDIR_PROTOCOLS, "CURLOPT_REDIR_PROTOCOLS",
                   static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS))
#endif
    ) {
      return result;
    }

    Download download{&result.body, limits().maxResponseBytes};
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &download);

    const CURLcode code = curl_easy_perform(curl);
    if (download.tooLarge) {
      Note("HTTP exchange failed: the answer from %s is larger than %d bytes", request.host,
           limits().maxResponseBytes);
      return result;
    }
    if (Aborted()) {
      Note("HTTP exchange with %s aborted: the service is stopping", request.host);
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
  // Sets one option whose refusal would change what the exchange does; a refusal is logged.
  template <typename Value>
  bool SetOption(CURL* curl, CURLoption option, const char* name, Value value) const {
    const CURLcode code = curl_easy_setopt(curl, option, value);
    if (code == CURLE_OK) return true;
    Note("HTTP exchange failed: curl_easy_setopt(%s) failed with %d: %s", name,
         static_cast<int>(code), curl_easy_strerror(code));
    return false;
  }

  // The proxy the settings name for this request, or empty for a direct connection.
  std::string ChooseProxy(const ProxySettings& proxy, const std::string& scheme,
                          const NetworkRequest& request) const {
    if (proxy.selection == ProxySettings::kOverride) return proxy.serverOverride;
    if (proxy.selection != ProxySettings::kPerConnection) return {};
    const bool automatic =
        (proxy.flags & (ProxySettings::kAutoConfigUrl | ProxySettings::kAutoDetect)) != 0 &&
        (proxy.flags != 0xFFFFFFFF);
    std::string chosen;
    if ((proxy.flags & ProxySettings::kManualProxy) != 0 &&
        !BypassesProxy(proxy.bypass, request.host, PortOrDefault(request.port, scheme))) {
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
  return std::make_unique<CurlHttpExchange>(std::move(log), std::move(limits));
}

}  // namespace Pellux
