#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/context.h"
#include "ui/channel/status_record.h"

namespace Pellux {

// What the UI channel asks of the session engine, and nothing more: hand it an action, and read
// the few facts a status poll and the UI watchdog need. The service wires the real engine in
// (app/engine_session_control.h); tests and the fuzz target give a recording one.
//
// Threads: called from the pipe listener's thread and from the watchdog's timer thread, with
// the service pipe's lock held; implementations must not call back into the service pipe.
class SessionControl {
 public:
  // The mode of the background session; every other mode is a UI session.
  static constexpr const char* kStandardMode = "standard";

  SessionControl() = default;
  SessionControl(const SessionControl&) = delete;
  SessionControl& operator=(const SessionControl&) = delete;
  virtual ~SessionControl() = default;

  // Hands one named action to the engine with request number 0 and failed false. The engine
  // may keep `context` for as long as the service pipe lives.
  virtual void ProcessAction(const std::string& action, const std::string& argument,
                             Context context) = 0;
  // The running session's mode ("standard" when no UI session runs).
  [[nodiscard]] virtual std::string Mode() const = 0;
  // The context the running session belongs to; kNoContext for the service's own.
  [[nodiscard]] virtual Context SessionContext() const = 0;
  // The contexts the engine holds on to: the running session's and the one waiting to start.
  [[nodiscard]] virtual std::vector<Context> HeldContexts() const = 0;
  // The host of the configured server, to which any UI may have a request sent.
  [[nodiscard]] virtual std::string ServerHost() const = 0;
  // Whether a base station is open and used by the engine.
  [[nodiscard]] virtual bool IsBaseStationOpen() const = 0;
  // When the tracker was last told to sleep, in seconds since 1970; 0 when never.
  [[nodiscard]] virtual std::int64_t LastSleepTime() const = 0;

  // The engine's part of the status record (mode, link, base station, last sleep, session,
  // last upload and last error), taken in one piece, and the context its session belongs to.
  struct EngineRecord {
    StatusRecord record;
    Context owner = kNoContext;
  };
  [[nodiscard]] virtual EngineRecord Status() const = 0;
};

}  // namespace Pellux
