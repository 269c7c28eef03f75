#pragma once

#include "server/http_exchange.h"

namespace Pellux {

// An HTTP exchange that reaches nobody and answers nothing: for tests whose user interface needs
// network workers but never sends a request that matters.
class NoExchange final : public HttpExchange {
 public:
  NoExchange() : HttpExchange(nullptr, {}) {}
  HttpResult Exchange(const NetworkRequest& /*request*/, const ProxySettings& /*proxy*/) override {
    return {};
  }
};

}  // namespace Pellux
