#pragma once

#include <string>

#include "base/context.h"

namespace Pellux {

// The way back to a UI: one message to the endpoint a UI named in its messages (the interned
// reply name that a Context points to). One backend per platform: CallNamedPipe on Windows, a
// Unix domain socket on Linux.
class ReplyChannel {
 public:
  ReplyChannel() = default;
  ReplyChannel(const ReplyChannel&) = delete;
  ReplyChannel& operator=(const ReplyChannel&) = delete;
  virtual ~ReplyChannel() = default;

  // Sends `message` (code and text) as one message to the endpoint `context` names. False only
  // when that endpoint does not exist; every other outcome counts as delivered (and a failure is
  // logged by the backend). kNoContext names no endpoint: nothing is sent, and the send
  // succeeds. Any thread, also with the engine's lock held; each call makes its own connection
  // and never calls back into the engine.
  virtual bool Send(const std::string& message, Context context) = 0;
};

}  // namespace Pellux
