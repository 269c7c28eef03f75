#include "app/engine_session_control.h"

namespace Pellux {

void EngineSessionControl::ProcessAction(const std::string& action, const std::string& argument,
                                         Context context) {
  engine_.ProcessAction(0, action, argument, false, context);
}

std::string EngineSessionControl::Mode() const {
  return engine_.Mode();
}

Context EngineSessionControl::SessionContext() const {
  return engine_.SessionContext();
}

std::vector<Context> EngineSessionControl::HeldContexts() const {
  return {engine_.SessionContext(), engine_.RestartContext()};
}

std::string EngineSessionControl::ServerHost() const {
  return engine_.Settings().serverHost;
}

bool EngineSessionControl::IsBaseStationOpen() const {
  return engine_.IsBaseStationInUse();
}

std::int64_t EngineSessionControl::LastSleepTime() const {
  return engine_.LastSleepTime();
}

NetworkWorkerPool::Completion AnswersToEngine() {
  return [](bool failed, const std::string& body, std::uint32_t requestNumber, Context context) {
    if (CommunicationManager* engine = CommunicationManager::Instance()) {
      engine->ProcessAction(requestNumber, "http", body, failed, context);
    }
  };
}

}  // namespace Pellux
