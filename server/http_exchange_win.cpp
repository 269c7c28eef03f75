// The HTTP exchange over WinInet.

#include <windows.h>
#include <wininet.h>

#include <array>
#include <atomic>
#include <boost/algorithm/string/case_conv.hpp>
#include <mutex>
#include <set>
#include <utility>

#include "base/log_format.h"
#include "base/system_error_win.h"
#include "server/http_exchange.h"
#include "server/wininet_request_plan_win.h"

namespace Pellux {
namespace {

constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr DWORD kFormContentTypeLength = sizeof kFormContentType - 1;
static_assert(kFormContentTypeLength == 47);
constexpr DWORD kReadChunk = 8192;

// Closes one WinInet handle when the exchange ends, whichever way.
class Handle {
 public:
  explicit Handle(HINTERNET handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  void Reset(HINTERNET handle) {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
    handle_ = handle;
  }
  [[nodiscard]] HINTERNET Get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// The request handles of the exchanges in flight. A call blocked on one (sending, waiting for
// the answer, reading it) fails at once when another thread closes that handle, which is how
// AbortAll ends them; closing and forgetting happen under one lock, so that no handle is closed
// twice and none that WinInet has handed out again is closed by mistake.
class LiveRequests {
 public:
  // Takes `handle` in, or closes it and answers false when the exchanges are already aborted.
  bool Add(HINTERNET handle, const std::atomic<bool>& aborted) {
    std::lock_guard guard(mutex_);
    if (aborted.load()) {
      InternetCloseHandle(handle);
      return false;
    }
    open_.insert(handle);
    return true;
  }
  // Closes `handle` when the exchange is over, unless CloseAll did.
  void Close(HINTERNET handle) {
    std::lock_guard guard(mutex_);
    if (open_.erase(handle) != 0) InternetCloseHandle(handle);
  }
  void CloseAll() {
    std::lock_guard guard(mutex_);
    for (HINTERNET handle : open_) InternetCloseHandle(handle);
    open_.clear();
  }

 private:
  std::mutex mutex_;
  std::set<HINTERNET> open_;
};

// The request handle of one exchange, closed through LiveRequests whichever way it ends.
class RequestHandle {
 public:
  explicit RequestHandle(LiveRequests& live) : live_(live) {}
  RequestHandle(const RequestHandle&) = delete;
  RequestHandle& operator=(const RequestHandle&) = delete;
  ~RequestHandle() { Release(); }
  // Holds `handle` from now on; false, with the handle closed, once the exchanges are aborted.
  bool Reset(HINTERNET handle, const std::atomic<bool>& aborted) {
    // The error of the call that gave no handle survives closing the one held before.
    const DWORD openError = GetLastError();
    Release();
    if (handle == nullptr) {
      SetLastError(openError);
      return false;
    }
    if (!live_.Add(handle, aborted)) return false;
    handle_ = handle;
    return true;
  }
  [[nodiscard]] HINTERNET Get() const { return handle_; }

 private:
  void Release() {
    if (handle_ != nullptr) live_.Close(handle_);
    handle_ = nullptr;
  }
  LiveRequests& live_;
  HINTERNET handle_ = nullptr;
};

INTERNET_PORT ServiceFor(const std::string& protocol) {
  const std::string lower = boost::algorithm::to_lower_copy(protocol);
  if (lower == "http") return INTERNET_SERVICE_HTTP;
  if (lower == "ftp") return INTERNET_SERVICE_FTP;
  if (lower == "gopher") return INTERNET_SERVICE_GOPHER;
  return 0;
}

// Whether HTTP gives the answer to `method` with `status` a body. Informational answers never
// end an exchange in WinInet's hands, but are named for completeness.
bool CarriesABody(const std::string& method, DWORD status) {
  if (method == "HEAD") return false;
  return !((status >= 100 && status < 200) || status == 204 || status == 304);
}

// Null for an empty text, as the per-connection options want it.
LPSTR TextOrNull(std::string& text) {
  return text.empty() ? nullptr : text.data();
}

class WinInetExchange final : public HttpExchange {
 public:
  WinInetExchange(Log log, Limits limits) : HttpExchange(std::move(log), std::move(limits)) {}

  void AbortAll() override {
    HttpExchange::AbortAll();
    live_.CloseAll();
  }

  HttpResult Exchange(const NetworkRequest& request, const ProxySettings& proxy) override {
    HttpResult result;
    if (Aborted()) {
      Note("HTTP exchange with %s not started: the service is stopping", request.host);
      return result;
    }
    // WinInet takes the port as 16 bits: a larger or negative number would be cut down to
    // some other server's port.
    if (request.port < 0 || request.port > 65535) {
      Note("HTTP exchange refused: port %d is not between 0 and 65535", request.port);
      return result;
    }
    DWORD access = INTERNET_OPEN_TYPE_DIRECT;
    const char* proxyName = nullptr;
    if (proxy.selection == ProxySettings::kPerConnection) {
      access = INTERNET_OPEN_TYPE_PRECONFIG;
    } else if (proxy.selection == ProxySettings::kOverride) {
      access = INTERNET_OPEN_TYPE_PROXY;
      proxyName = proxy.serverOverride.c_str();
    }
    const Handle session(InternetOpenA(request.agent.c_str(), access, proxyName, nullptr, 0));
    if (session.Get() == nullptr) return Fail("InternetOpenA", request, result);
    if (proxy.selection == ProxySettings::kPerConnection) SetPerConnectionOptions(session, proxy);
    SetTimeouts(session);

    const Handle connection(InternetConnectA(session.Get(), request.host.c_str(),
                                             static_cast<INTERNET_PORT>(request.port), nullptr,
                                             nullptr, ServiceFor(request.protocol), 0, 0));
    if (connection.Get() == nullptr) return Fail("InternetConnectA", request, result);

    const WinInetRequestPlan plan = PlanWinInetRequest(request.secure, proxy);
    RequestHandle call(live_);
    if (!call.Reset(HttpOpenRequestA(connection.Get(), request.method.c_str(), request.path.c_str(),
                                     nullptr, nullptr, nullptr, plan.flags, 0),
                    AbortFlag())) {
      return Fail("HttpOpenRequestA", request, result);
    }
    if (plan.suppressServerAuth &&
        !InternetSetOptionA(call.Get(), INTERNET_OPTION_SUPPRESS_SERVER_AUTH, nullptr, 0)) {
      // A WinInet without the option would answer the server's challenge with our
      // credentials: the request is opened again to answer no challenge at all, not even the
      // proxy's.
      const DWORD code = GetLastError();
      Note(
          "HTTP exchange: InternetSetOptionA(INTERNET_OPTION_SUPPRESS_SERVER_AUTH) returned "
          "error %lu: %s [0x%08lx]; the request goes without any authentication",
          static_cast<unsigned long>(code), SystemErrorTextFrom("wininet.dll", code),
          static_cast<unsigned long>(code));
      if (!call.Reset(
              HttpOpenRequestA(connection.Get(), request.method.c_str(), request.path.c_str(),
                               nullptr, nullptr, nullptr, plan.flags | INTERNET_FLAG_NO_AUTH, 0),
              AbortFlag())) {
        return Fail("HttpOpenRequestA", request, result);
      }
    }
    SetTimeouts(call);

    const bool post = request.method == "POST";
    std::string body = request.body;
    const BOOL sent = HttpSendRequestA(
        call.Get(), post ? kFormContentType : nullptr, post ? kFormContentTypeLength : 0,
        post ? body.data() : nullptr, post ? static_cast<DWORD>(body.size()) : 0);
    if (!sent) return Fail("HttpSendRequestA", request, result);

    std::array<char, kReadChunk> chunk{};
    for (;;) {
      DWORD read = 0;
      if (!InternetReadFile(call.Get(), chunk.data(), kReadChunk, &read)) {
        return Fail("InternetReadFile", request, result);
      }
      if (read == 0) break;
      if (result.body.size() + read > limits().maxResponseBytes) {
        Note("HTTP exchange failed: the answer from %s is larger than %d bytes", request.host,
             limits().maxResponseBytes);
        return result;
      }
      result.body.append(chunk.data(), read);
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    const bool answered =
        HttpQueryInfoA(call.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                       nullptr) != FALSE;
    // A connection that closes before the announced length ends the reads as a clean end
    // would: without this check a cut-off answer would pass as a whole one. An answer that has
    // no body by HTTP's rules may still announce the length of the document it stands for (a
    // HEAD answer does so by design), so it is not checked.
    DWORD announced = 0;
    size = sizeof announced;
    if (CarriesABody(request.method, answered ? status : 0) &&
        HttpQueryInfoA(call.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &announced,
                       &size, nullptr) &&
        result.body.size() < announced) {
      Note("HTTP exchange failed: %s sent %d of the %d bytes it announced", request.host,
           result.body.size(), static_cast<unsigned long>(announced));
      return result;
    }
    if (answered && status == 200) result.failed = false;
    return result;
  }

 private:
  LiveRequests live_;

  HttpResult& Fail(const char* call, const NetworkRequest& request, HttpResult& result) const {
    const DWORD code = GetLastError();
    if (Aborted()) {
      Note("HTTP exchange with %s aborted: the service is stopping", request.host);
      return result;
    }
    // WinInet keeps the texts of its own codes (12000 and up) in its own message table.
    Note("HTTP exchange failed: %s returned error %lu: %s [0x%08lx]", call,
         static_cast<unsigned long>(code), SystemErrorTextFrom("wininet.dll", code),
         static_cast<unsigned long>(code));
    return result;
  }

  // The five options in their order, for the default connection. The outcome is not looked at:
  // a system that refuses them keeps its own.
  static void SetPerConnectionOptions(const Handle& session, const ProxySettings& proxy) {
    std::string autoConfigUrl = proxy.autoConfigUrl;
    std::string bypass = proxy.bypass;
    std::string server = proxy.server;
    std::array<INTERNET_PER_CONN_OPTIONA, 5> options{};
    options[0].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[0].Value.pszValue = TextOrNull(autoConfigUrl);
    options[1].dwOption = INTERNET_PER_CONN_AUTODISCOVERY_FLAGS;
    options[1].Value.dwValue = proxy.autoDiscoveryFlags;
    options[2].dwOption = INTERNET_PER_CONN_FLAGS;
    options[2].Value.dwValue = proxy.flags;
    options[3].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[3].Value.pszValue = TextOrNull(bypass);
    options[4].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
    options[4].Value.pszValue = TextOrNull(server);
    INTERNET_PER_CONN_OPTION_LISTA list{};
    list.dwSize = sizeof list;
    list.pszConnection = nullptr;
    list.dwOptionCount = static_cast<DWORD>(options.size());
    list.pOptions = options.data();
    InternetSetOptionA(session.Get(), INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list);
  }

  template <typename Held>
  void SetTimeouts(const Held& session) const {
    DWORD connect = static_cast<DWORD>(limits().connectTimeout.count());
    DWORD receive = static_cast<DWORD>(limits().stallTimeout.count());
    InternetSetOptionA(session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
    InternetSetOptionA(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
    InternetSetOptionA(session.Get(), INTERNET_OPTION_SEND_TIMEOUT, &receive, sizeof receive);
  }
};

}  // namespace

std::unique_ptr<HttpExchange> HttpExchange::CreateForPlatform(Log log, Limits limits) {
  return std::make_unique<WinInetExchange>(std::move(log), std::move(limits));
}

}  // namespace Pellux
