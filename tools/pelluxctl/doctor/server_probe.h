#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace Pellux {

// One HTTP request to try: GET http://host:port/path, through `proxy` ("host:port") or
// directly when it is empty.
struct ServerTarget {
  std::string host;
  std::int32_t port = 80;
  std::string path;
  std::string proxy;
};

struct ServerAnswer {
  enum class Outcome {
    kAnswered,         // an HTTP answer came, `status` holds its code
    kUnresolved,       // the host's name did not resolve
    kProxyUnresolved,  // the proxy's name did not resolve
    kRefused,          // the connection was refused
    kTimedOut,         // nothing came within the time-out
    kFailed            // anything else; `detail` says what
  };
  Outcome outcome = Outcome::kFailed;
  long status = 0;
  // The HTTP client's own words for what happened.
  std::string detail;
};

// Tries the upload server: libcurl on Linux. Called by `pelluxctl doctor` on its one thread;
// blocks for at most the time-out.
class ServerProbe {
 public:
  ServerProbe() = default;
  ServerProbe(const ServerProbe&) = delete;
  ServerProbe& operator=(const ServerProbe&) = delete;
  virtual ~ServerProbe() = default;

  virtual ServerAnswer Probe(const ServerTarget& target, std::chrono::milliseconds timeout) = 0;

  static std::unique_ptr<ServerProbe> CreateForPlatform();
};

}  // namespace Pellux
