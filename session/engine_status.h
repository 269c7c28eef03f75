#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/context.h"
#include "session/session_progress.h"

namespace Pellux {

// The engine's part of the service's status record, taken in one piece under its lock.
struct EngineStatus {
  // Where the engine stands with the base station and the tracker.
  static constexpr const char* kStopped = "stopped";
  static constexpr const char* kWaitingForBaseStation = "waiting for a base station";
  static constexpr const char* kSearching = "searching";
  static constexpr const char* kLinked = "linked";
  static constexpr const char* kTransferring = "transferring";
  static constexpr const char* kSleeping = "sleeping";

  std::string mode;
  // The user interface the running session belongs to; kNoContext for the service's own.
  Context owner = kNoContext;
  std::string link = kStopped;
  bool baseStationOpen = false;
  std::string serial;
  // Where the system names the open station (a tty's node, a product text).
  std::string device;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::int64_t lastSleepTime = 0;
  std::optional<SessionProgress::Session> session;
  std::optional<SessionProgress::Upload> lastUpload;
  std::optional<SessionProgress::ShownError> lastError;
};

}  // namespace Pellux
