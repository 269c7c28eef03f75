#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "server/server_response.h"
#include "session/session_exchange.h"

namespace Pellux {

class CommunicationManager;

// A server exchange reduced to what the session life cycle needs: an instruction without
// operations posts its results at once
// (body "clientMode=<mode>" plus any form text), and an instruction without a host closes
// the session. Every call is recorded.
class ScriptedExchange final : public SessionExchange {
 public:
  void Attach(CommunicationManager* manager) { manager_ = manager; }

  void BeginInstruction() override;
  void SendNextCommand() override;
  void PostResults() override;
  void OnFormInput(const std::string& text) override;

  [[nodiscard]] std::vector<std::string> Calls() const;
  [[nodiscard]] std::size_t Count(const std::string& call) const;

  // When false, SendNextCommand only records (an operation is "running").
  bool postWhenIdle = true;
  // When false, PostResults prepares the request but leaves it pending.
  bool sendPrepared = true;

 private:
  void Record(std::string call);

  CommunicationManager* manager_ = nullptr;
  std::string body_;
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
};

}  // namespace Pellux
