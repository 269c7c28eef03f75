#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/http_exchange.h"
#include "server/network_worker_pool.h"
#include "sim/reference_server.h"

namespace Pellux {

struct Completed {
  bool failed = false;
  std::string body;
  std::uint32_t requestNumber = 0;
  Context context = kNoContext;
};

// The network workers with the platform's HTTP client against the reference server on
// loopback.
class HttpTransportTest : public ::testing::Test {
 protected:
  static HttpExchange::Limits TestLimits() {
    HttpExchange::Limits limits;
    limits.connectTimeout = std::chrono::milliseconds(2000);
    limits.stallTimeout = std::chrono::milliseconds(200);
    return limits;
  }

  void SetUp() override { ProcessProxySettings::Set(ProxySettings{}); }

  NetworkRequest Request(const std::string& method = "POST") const {
    NetworkRequest request;
    request.method = method;
    request.host = "127.0.0.1";
    request.port = server.Port();
    request.path = "/device/tracker/uploadData";
    request.body = "a=1&b=%5b2%5d";
    request.requestNumber = 7;
    return request;
  }

  void Send(NetworkRequest request) {
    pool.Submit(std::move(request), &caller,
                [this](bool failed, const std::string& body, std::uint32_t number, Context ctx) {
                  std::lock_guard guard(mutex);
                  completions.push_back({failed, body, number, ctx});
                  done.notify_all();
                });
  }

  // Waits for `count` completions in all.
  std::vector<Completed> Await(std::size_t count) {
    std::unique_lock guard(mutex);
    done.wait_for(guard, std::chrono::seconds(30), [&] { return completions.size() >= count; });
    return completions;
  }

  // The lines the exchange logged so far.
  std::vector<std::string> Lines() {
    std::lock_guard guard(linesMutex);
    return lines;
  }

  // Declared before the pool, whose workers use them until it stops.
  const ReplyEndpoint caller{"caller", {}};
  std::mutex mutex;
  std::condition_variable done;
  std::vector<Completed> completions;
  std::vector<std::string> lines;
  std::mutex linesMutex;
  std::unique_ptr<HttpExchange> exchange = HttpExchange::CreateForPlatform(
      [this](const std::string& line) {
        std::lock_guard guard(linesMutex);
        lines.push_back(line);
      },
      TestLimits());
  ReferenceServer server;
  NetworkWorkerPool pool{*exchange};
};

}  // namespace Pellux
