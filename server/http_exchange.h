#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/log_format.h"
#include "server/network_request.h"
#include "server/proxy_settings.h"

namespace Pellux {

// What one exchange brought back. `failed` unless the server answered with status 200; the
// body read so far is kept either way.
struct HttpResult {
  bool failed = true;
  std::string body;
};

// One blocking HTTP exchange with the platform's client. Implementations hold no state between
// exchanges and may run several at once, each on its own worker thread.
class HttpExchange {
 public:
  // A response body larger than this fails the exchange: an answer without bound would let any
  // server exhaust the service's memory.
  static constexpr std::size_t kMaxResponseBytes = std::size_t{16} * 1024 * 1024;

  struct Limits {
    std::chrono::milliseconds connectTimeout{30000};
    // An exchange that moves no byte for this long fails.
    std::chrono::milliseconds stallTimeout{120000};
    // No exchange takes longer than this in all, however slowly its bytes trickle in.
    std::chrono::milliseconds totalTimeout{300000};
    std::size_t maxResponseBytes = kMaxResponseBytes;
    // A PEM file of certificate authorities trusted instead of the system's store (tests);
    // empty: the system's store. Names and dates are checked either way.
    std::string certificateAuthorities;
  };

  // Receives one line about what the exchange did that a reader of the log should know.
  using Log = std::function<void(const std::string& line)>;

  HttpExchange(Log log, Limits limits) : log_(std::move(log)), limits_(std::move(limits)) {}
  HttpExchange(const HttpExchange&) = delete;
  HttpExchange& operator=(const HttpExchange&) = delete;
  virtual ~HttpExchange() = default;

  // Sends `request` and reads the whole answer. Any worker thread.
  virtual HttpResult Exchange(const NetworkRequest& request, const ProxySettings& proxy) = 0;

  // Ends every exchange in flight within about a second, as failed, and fails every later one
  // at once: the service is stopping and waits for its workers. Any thread; for good.
  virtual void AbortAll() { aborted_.store(true); }

  // The platform's client: WinInet on Windows, libcurl elsewhere.
  static std::unique_ptr<HttpExchange> CreateForPlatform(Log log, Limits limits);

 protected:
  // One line for the log, when someone listens.
  template <typename... Args>
  void Note(const char* format, const Args&... args) const {
    if (log_) log_(FormatLine(format, args...).str());
  }
  [[nodiscard]] const Limits& limits() const { return limits_; }
  [[nodiscard]] bool Aborted() const { return aborted_.load(); }
  // For a platform client that checks it from inside its own transfer loop.
  [[nodiscard]] const std::atomic<bool>& AbortFlag() const { return aborted_; }

 private:
  Log log_;
  Limits limits_;
  std::atomic<bool> aborted_{false};
};

}  // namespace Pellux
