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

SessionControl::EngineRecord EngineSessionControl::Status() const {
  const EngineStatus status = engine_.Status();
  EngineRecord out;
  out.owner = status.owner;
  StatusRecord& record = out.record;
  record.mode = status.mode;
  record.link = status.link;
  record.baseStation = {status.baseStationOpen, status.vendorId, status.productId, status.serial,
                        status.device};
  record.lastSleepTime = status.lastSleepTime;
  if (status.session) {
    const SessionProgress::Session& session = *status.session;
    record.session = StatusRecord::Session{true,
                                           session.mode,
                                           session.startedAt,
                                           session.linkedAt,
                                           session.requestsPosted,
                                           session.bytesFromTracker,
                                           session.bytesToTracker,
                                           session.operation,
                                           session.operations};
  }
  if (status.lastUpload) {
    const SessionProgress::Upload& upload = *status.lastUpload;
    record.lastUpload = StatusRecord::Upload{
        upload.mode,
        upload.finishedAt,
        upload.seconds,
        upload.bytes,
        upload.bytesFromTracker,
        upload.bytesToTracker,
        upload.requestsPosted,
        upload.failure.empty() ? StatusRecord::kSucceeded : StatusRecord::kFailed,
        upload.failure};
  }
  if (status.lastError) {
    record.lastError = StatusRecord::ShownError{status.lastError->at, status.lastError->key};
  }
  return out;
}

NetworkWorkerPool::Completion AnswersToEngine() {
  return [](bool failed, const std::string& body, std::uint32_t requestNumber, Context context) {
    if (CommunicationManager* engine = CommunicationManager::Instance()) {
      engine->ProcessAction(requestNumber, "http", body, failed, context);
    }
  };
}

}  // namespace Pellux
