#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "tools/pelluxctl/ui_connection.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

// What came back for a status poll (T) already sent.
struct StatusAnswer {
  enum class Outcome {
    kAnswered,   // `status` holds the answer
    kSenseless,  // a status reply came that does not decode; `reply` holds it
    kNone        // nothing within the time-out
  };
  Outcome outcome = Outcome::kNone;
  StatusReply status;
  std::string reply;
};

// Waits up to `timeout` at the reply endpoint for the service's status reply, passing over
// pages and status lines of a session the endpoint had; each failed receive is told to
// `onError` (may be empty), and the wait goes on. pelluxctl's one thread.
StatusAnswer AwaitStatusAnswer(UiConnection& connection, std::chrono::milliseconds timeout,
                               const std::function<void(const std::string&)>& onError);

}  // namespace Pellux
