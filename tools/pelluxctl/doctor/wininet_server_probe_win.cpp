// The server probe of Windows: one GET through WinInet, as the service's own exchanges go.

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

#include "base/system_error_win.h"
#include "tools/pelluxctl/doctor/server_probe.h"

namespace Pellux {
namespace {

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (handle_ != nullptr) InternetCloseHandle(handle_);
  }
  [[nodiscard]] HINTERNET Get() const { return handle_; }

 private:
  HINTERNET handle_;
};

// The call, WinInet's code and its text.
std::string Failure(const char* call, DWORD code) {
  return std::string(call) + " failed: error " + std::to_string(code) + " (" +
         SystemErrorTextFrom("wininet.dll", code) + ")";
}

ServerAnswer Failed(const char* call, bool proxied) {
  const DWORD code = GetLastError();
  ServerAnswer answer;
  answer.detail = Failure(call, code);
  switch (code) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      // Through a proxy only the proxy's name is resolved here.
      answer.outcome =
          proxied ? ServerAnswer::Outcome::kProxyUnresolved : ServerAnswer::Outcome::kUnresolved;
      break;
    case ERROR_INTERNET_CANNOT_CONNECT:
      answer.outcome = ServerAnswer::Outcome::kRefused;
      break;
    case ERROR_INTERNET_TIMEOUT:
      answer.outcome = ServerAnswer::Outcome::kTimedOut;
      break;
    default:
      answer.outcome = ServerAnswer::Outcome::kFailed;
      break;
  }
  return answer;
}

class WinInetServerProbe final : public ServerProbe {
 public:
  ServerAnswer Probe(const ServerTarget& target, std::chrono::milliseconds timeout) override {
    const bool proxied = !target.proxy.empty();
    const InternetHandle session(InternetOpenA(
        "pelluxctl doctor", proxied ? INTERNET_OPEN_TYPE_PROXY : INTERNET_OPEN_TYPE_DIRECT,
        proxied ? target.proxy.c_str() : nullptr, nullptr, 0));
    if (session.Get() == nullptr) return Failed("InternetOpenA", proxied);
    auto milliseconds = static_cast<DWORD>(timeout.count());
    for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                               INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      InternetSetOptionA(session.Get(), option, &milliseconds, sizeof milliseconds);
    }
    const InternetHandle connection(InternetConnectA(
        session.Get(), target.host.c_str(), static_cast<INTERNET_PORT>(target.port), nullptr,
        nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.Get() == nullptr) return Failed("InternetConnectA", proxied);
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                        INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_KEEP_CONNECTION;
    const InternetHandle request(HttpOpenRequestA(connection.Get(), "GET", target.path.c_str(),
                                                  nullptr, nullptr, nullptr, flags, 0));
    if (request.Get() == nullptr) return Failed("HttpOpenRequestA", proxied);
    if (HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0) == 0) {
      return Failed("HttpSendRequestA", proxied);
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                       &size, nullptr) == 0) {
      return Failed("HttpQueryInfoA", proxied);
    }
    ServerAnswer answer;
    answer.outcome = ServerAnswer::Outcome::kAnswered;
    answer.status = static_cast<long>(status);
    return answer;
  }
};

}  // namespace

std::unique_ptr<ServerProbe> ServerProbe::CreateForPlatform() {
  return std::make_unique<WinInetServerProbe>();
}

}  // namespace Pellux
