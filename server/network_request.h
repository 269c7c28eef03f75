#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

// One HTTP request, copied by value into the transport's queue.
struct NetworkRequest {
  std::string method = "POST";  // "POST", "GET" or "HEAD"
  std::string host;
  std::int32_t port = 80;
  std::string path;
  std::string body;  // form-encoded; sent only with "POST"
  std::string protocol = "http";
  std::string agent;
  bool secure = false;
  // Whether the answer goes back to the session engine as the action "http".
  bool reportResult = true;
  // Chosen by the session engine and handed back unchanged with the answer.
  std::uint32_t requestNumber = 0;
};

}  // namespace Pellux
