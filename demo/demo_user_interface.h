#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>

#include "server/network_worker_pool.h"
#include "ui/user_interface.h"

namespace Pellux {

// The demo's user interface: every log line and page goes to a text stream as it happens,
// requests go out through real network workers, and each answer comes back to the engine as
// the action "http". It also keeps the counts for the demo's summary. Thread-safe.
class DemoUserInterface final : public UserInterface {
 public:
  struct Counts {
    std::size_t requests = 0;
    std::size_t bytesSent = 0;
    std::size_t bytesReceived = 0;
    std::size_t failedExchanges = 0;
    std::size_t sessionsDone = 0;
  };

  // `store`, `pool` and `out` must outlive the interface.
  DemoUserInterface(SettingsStore& store, NetworkWorkerPool& pool, std::ostream& out);

  bool ShowErrorList(int templateNumber, const std::vector<std::string>& messageKeys,
                     Context context) override;
  bool DisplayHtml(const std::string& html, Context context, int width, int height) override;
  void SendRequest(NetworkRequest request, Context context) override;
  void Log(const std::string& text, int level, Context context) override;
  bool Relaunch(std::uint16_t vendorId, std::uint16_t productId) override;
  // This machine's description and the client id of the demo's settings, as the service has
  // them; problems on the way are logged.
  std::string GetOsDescription() override;
  std::string GetClientId() override;
  std::string GetLocale(Context /*context*/) override { return "en_US"; }

  [[nodiscard]] Counts Snapshot() const;
  // Waits until `done` holds for the counts, or `timeout` passes; true when it holds.
  bool WaitFor(const std::function<bool(const Counts&)>& done,
               std::chrono::milliseconds timeout) const;

 private:
  void Print(const std::string& line);
  void LogProblem(const std::string& line);
  void OnAnswer(bool failed, const std::string& body, std::uint32_t requestNumber, Context context);

  NetworkWorkerPool& pool_;
  std::ostream& out_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Counts counts_;
  std::size_t requestsThisSession_ = 0;
};

}  // namespace Pellux
