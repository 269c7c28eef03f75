#include "ui/channel/ui_permissions.h"

#include <boost/algorithm/string/predicate.hpp>
#include <string>

#include "server/parse_url.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

UiRight RightNeeded(char code, std::string_view rest, std::string_view serverHost) {
  switch (code) {
    case UiCode::kLogging:
    case UiCode::kProxy:
      return UiRight::kAdministrator;
    case UiCode::kOpenUrl: {
      ParsedUrl url;
      if (!ParseUrl(DecodeUrl(rest), url)) return UiRight::kAnyone;
      return boost::algorithm::iequals(url.host, serverHost) ? UiRight::kAnyone
                                                             : UiRight::kAdministrator;
    }
    default:
      return UiRight::kAnyone;
  }
}

}  // namespace Pellux
