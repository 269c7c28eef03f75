#pragma once

#include <cstdint>
#include <string>

#include "server/network_worker_pool.h"
#include "session/communication_manager.h"
#include "ui/channel/session_control.h"

namespace Pellux {

// The session engine as the UI channel sees it: actions go to ProcessAction with request
// number 0 and failed false; the status facts are the engine's own read-only views, each
// taken under its lock. Thread-safe as the engine is.
class EngineSessionControl final : public SessionControl {
 public:
  // `engine` must outlive this object.
  explicit EngineSessionControl(CommunicationManager& engine) : engine_(engine) {}

  void ProcessAction(const std::string& action, const std::string& argument,
                     Context context) override;
  [[nodiscard]] std::string Mode() const override;
  [[nodiscard]] Context SessionContext() const override;
  [[nodiscard]] std::vector<Context> HeldContexts() const override;
  [[nodiscard]] std::string ServerHost() const override;
  [[nodiscard]] bool IsBaseStationOpen() const override;
  [[nodiscard]] std::int64_t LastSleepTime() const override;
  [[nodiscard]] EngineRecord Status() const override;

 private:
  CommunicationManager& engine_;
};

// Hands each answer of the network workers to the engine of this process as the action "http"
// with its request number; an answer that comes while no engine exists is dropped.
NetworkWorkerPool::Completion AnswersToEngine();

}  // namespace Pellux
