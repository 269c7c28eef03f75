#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/context.h"
#include "server/http_exchange.h"
#include "server/network_request.h"

namespace Pellux {

// The network workers: three threads taking exchanges from one queue, so that whoever sends a
// request never waits on the network. Thread-safe.
class NetworkWorkerPool {
 public:
  static constexpr int kWorkers = 3;
  // Runs on the worker thread once the exchange is over.
  using Completion = std::function<void(bool failed, const std::string& body,
                                        std::uint32_t requestNumber, Context context)>;

  // `exchange` must outlive the pool. The workers start at once.
  explicit NetworkWorkerPool(HttpExchange& exchange);
  NetworkWorkerPool(const NetworkWorkerPool&) = delete;
  NetworkWorkerPool& operator=(const NetworkWorkerPool&) = delete;
  ~NetworkWorkerPool();

  // Queues one exchange with the proxy settings of the process and returns. Once the pool has
  // stopped the request is dropped and no completion runs. A null completion reports nothing.
  void Submit(NetworkRequest request, Context context, Completion completion);
  // Drops what is still queued, aborts the exchanges in flight (they end within about a second
  // and report nothing) and joins the workers. The exchange then fails whatever it is given.
  void Stop();
  [[nodiscard]] bool IsRunning() const;

 private:
  HttpExchange& exchange_;
  mutable std::mutex mutex_;
  bool running_ = true;
  boost::asio::io_context io_;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  std::vector<std::thread> workers_;
};

}  // namespace Pellux
