#pragma once

#include <string>

namespace Pellux {

// The exchange with the server inside a session: running the instruction's remote operations,
// collecting results and preparing the next request. Every operation is called with the engine's
// lock held; implementations act on the engine through its public operations (ProcessRequest,
// EndSession, PrepareResultsRequest, ...).
class SessionExchange {
 public:
  SessionExchange() = default;
  SessionExchange(const SessionExchange&) = delete;
  SessionExchange& operator=(const SessionExchange&) = delete;
  virtual ~SessionExchange() = default;

  // A new instruction became current: the request body starts empty.
  virtual void BeginInstruction() = 0;
  // Runs the next remote operation of the current instruction, or posts the results.
  virtual void SendNextCommand() = 0;
  // Posts the results, or decides to close, now that nothing holds the post back.
  virtual void PostResults() = 0;
  // The user's form, exactly as the UI sent it.
  virtual void OnFormInput(const std::string& text) = 0;
};

}  // namespace Pellux
