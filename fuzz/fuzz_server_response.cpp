// Feeds arbitrary bytes to the reader of the server's documents: it must either read them or
// refuse them with a message, never crash, and always leave a consistent record behind.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "link/packet.h"
#include "server/request_body.h"
#include "server/server_response_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Pellux::ServerResponse response;
  std::vector<std::string> warnings;
  std::string error;
  const bool ok = Pellux::ParseServerResponse(text, response, warnings, &error);
  if (!ok) {
    // A refusal always says why, and reports nothing else.
    if (error.empty() || !warnings.empty()) std::abort();
    (void)Pellux::ErrorReportBody(error);
    return 0;
  }
  if (response.port < 0 || response.port > 65535) std::abort();
  if (response.acquireTimeOut > 600) std::abort();
  for (const auto& command : response.remoteOps) {
    if (command == nullptr) std::abort();
    if (command->packet != nullptr) {
      std::vector<std::uint8_t> header;
      command->packet->Serialize(header);
      if (header.size() != 7) std::abort();
    }
  }
  (void)Pellux::WarningsReportBody(warnings);
  return 0;
}
