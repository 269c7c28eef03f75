#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "server/network_worker_pool.h"
#include "ui/linux_user_interface.h"

namespace Pellux {

// The daemon's own user interface as the demo runs it: its lines go to the terminal (a
// DemoConsole) and to an activity log in a folder of the demo's choosing; requests go out
// through the real network workers and each answer comes back to the engine as "http". What
// only the demo needs is added on top: the counts for its summary, and a relaunch that is only
// shown. Thread-safe.
class DemoUserInterface final : public LinuxUserInterface {
 public:
  struct Counts {
    std::size_t requests = 0;
    std::size_t bytesSent = 0;
    std::size_t bytesReceived = 0;
    std::size_t failedExchanges = 0;
    std::size_t sessionsDone = 0;
  };

  // `logFolderPath` is the activity log's folder (absolute). `settings`, `pool` and `out` must
  // outlive the interface.
  DemoUserInterface(SettingsStore& settings, NetworkWorkerPool& pool, std::ostream& out,
                    const std::string& logFolderPath);

  void SendRequest(NetworkRequest request, Context context) override;
  void Log(const std::string& text, int level, Context context) override;
  bool Relaunch(std::uint16_t vendorId, std::uint16_t productId) override;

  [[nodiscard]] Counts Snapshot() const;
  // Waits until `done` holds for the counts, or `timeout` passes; true when it holds.
  bool WaitFor(const std::function<bool(const Counts&)>& done,
               std::chrono::milliseconds timeout) const;

 private:
  // Counts the answer, then hands it to the engine.
  void OnAnswer(bool failed, const std::string& body, std::uint32_t requestNumber, Context context);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Counts counts_;
  std::size_t requestsThisSession_ = 0;
};

}  // namespace Pellux
