// Requests through the network workers to the reference server on loopback with the platform's
// HTTP client: how many exchanges the transport carries each second when the server answers at
// once.

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "server/http_exchange.h"
#include "server/network_worker_pool.h"
#include "sim/reference_server.h"

namespace Pellux {
namespace {

void PoolExchanges(benchmark::State& state) {
  const auto inFlight = static_cast<std::size_t>(state.range(0));
  ReferenceServer server;
  std::unique_ptr<HttpExchange> exchange =
      HttpExchange::CreateForPlatform(nullptr, HttpExchange::Limits{});
  NetworkWorkerPool pool(*exchange);
  NetworkRequest request;
  request.host = "127.0.0.1";
  request.port = server.Port();
  request.path = "/device/tracker/uploadData";
  request.body = std::string(2000, 'a');

  std::mutex mutex;
  std::condition_variable done;
  std::size_t completed = 0;
  std::size_t failed = 0;
  const auto onAnswer = [&](bool wasFailed, const std::string&, std::uint32_t, Context) {
    std::lock_guard guard(mutex);
    ++completed;
    failed += wasFailed ? 1 : 0;
    done.notify_all();
  };
  std::size_t sent = 0;
  for (auto _ : state) {
    // Keep `inFlight` requests queued: the workers are never idle for want of work.
    for (std::size_t i = 0; i < inFlight; ++i) {
      pool.Submit(request, kNoContext, onAnswer);
      ++sent;
    }
    std::unique_lock guard(mutex);
    done.wait(guard, [&] { return completed >= sent; });
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(sent));
  state.counters["requests_per_s"] =
      benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
  if (failed > 0) state.SkipWithError("some exchanges failed");
}
BENCHMARK(PoolExchanges)->Arg(1)->Arg(3)->Arg(30)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace Pellux

BENCHMARK_MAIN();
