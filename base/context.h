#pragma once

#include <string>

#include "base/ui_sender.h"

namespace Pellux {

// The endpoint a UI named for the service's answers, and who named it. The same name from two
// users is two endpoints: answers go only to an endpoint that its own user listens on.
struct ReplyEndpoint {
  std::string name;
  UiSender sender;
};

// Identity of one user interface client: the address of its endpoint, which the UI bridge keeps
// for as long as anything may hold it (ui/channel/reply_endpoints.h). Two messages of one user
// naming the same endpoint carry the same Context, so the engine compares contexts by identity.
// The service itself acts with kNoContext, which names no client.
using Context = const ReplyEndpoint*;
inline constexpr Context kNoContext = nullptr;

}  // namespace Pellux
