#include "server/network_worker_pool.h"

#include <boost/asio/post.hpp>
#include <utility>

#include "server/proxy_settings.h"

namespace Pellux {

NetworkWorkerPool::NetworkWorkerPool(HttpExchange& exchange)
    : exchange_(exchange), work_(io_.get_executor()) {
  for (int i = 0; i < kWorkers; ++i) workers_.emplace_back([this] { io_.run(); });
}

NetworkWorkerPool::~NetworkWorkerPool() {
  Stop();
}

void NetworkWorkerPool::Submit(NetworkRequest request, Context context, Completion completion) {
  std::lock_guard guard(mutex_);
  if (!running_) return;
  boost::asio::post(
      io_, [this, request = std::move(request), context, completion = std::move(completion)] {
        const HttpResult result = exchange_.Exchange(request, ProcessProxySettings::Get());
        // An exchange cut short by Stop reports nothing, as a request still queued then.
        if (!IsRunning()) return;
        if (request.reportResult && completion) {
          completion(result.failed, result.body, request.requestNumber, context);
        }
      });
}

void NetworkWorkerPool::Stop() {
  {
    std::lock_guard guard(mutex_);
    if (!running_) return;
    running_ = false;
  }
  exchange_.AbortAll();
  work_.reset();
  io_.stop();
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
}

bool NetworkWorkerPool::IsRunning() const {
  std::lock_guard guard(mutex_);
  return running_;
}

}  // namespace Pellux
