#pragma once

#include <string>
#include <string_view>

namespace Pellux {

// The server's page as the browser page's frame shows it: every form's start tag made to post
// to `formAction` (an absolute URL of pelluxctl's own server), whatever action, method, target
// or encoding the server gave it, so that a submitted form comes back to pelluxctl and, from
// there, to the service. Outside form tags everything is left byte for byte; inside them the
// other attributes are kept as a browser reads them (one that it would read as garbage, a name
// starting with "=", is left out). The frame's sandbox and the
// Content-Security-Policy it is served with keep the page's scripts and foreign loads out.
// `formAction` must need no escaping inside double quotes. Pure; any input.
std::string FrameDocument(std::string_view html, std::string_view formAction);

}  // namespace Pellux
