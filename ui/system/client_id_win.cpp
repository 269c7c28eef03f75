#include <objbase.h>
#include <rpc.h>
#include <windows.h>

#include "base/system_error.h"
#include "ui/system/client_id.h"

namespace Pellux {

std::optional<std::string> MakeClientId(const ProblemReporter& report) {
  GUID guid{};
  if (const HRESULT result = CoCreateGuid(&guid); FAILED(result)) {
    if (report) {
      report(SystemCallFailure("CoCreateGuid", "", static_cast<unsigned long>(result)));
    }
    return std::nullopt;
  }
  // UuidToStringA writes the lower-case 8-4-4-4-12 form without braces.
  RPC_CSTR text = nullptr;
  if (const RPC_STATUS status = UuidToStringA(&guid, &text); status != RPC_S_OK) {
    if (report) {
      report(SystemCallFailure("UuidToStringA", "", static_cast<unsigned long>(status)));
    }
    return std::nullopt;
  }
  std::string id(reinterpret_cast<const char*>(text));
  RpcStringFreeA(&text);
  return id;
}

}  // namespace Pellux
