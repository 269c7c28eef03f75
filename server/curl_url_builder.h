#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

// The URL libcurl is given for one exchange, or why there is none.
struct CurlUrl {
  std::string url;    // empty when a part was refused
  std::string error;  // the call, the part, libcurl's code and text, the refused value
};

// Puts a URL together from its parts with libcurl's URL API, so that every part is checked
// for what it is instead of being joined into a text that reads as something else. Takes the
// parts as WinInet takes them: a path without its leading "/" gets one, an IPv6 literal host
// ("::1") is put in brackets, and port 0 stands for the scheme's default port. A host that is
// no host name (blanks, "/", "@", line breaks, empty), a port outside 0 to 65535, or a path
// libcurl would not send as it stands gives no URL. Any thread.
CurlUrl BuildCurlUrl(const std::string& scheme, const std::string& host, std::int32_t port,
                     const std::string& path);

}  // namespace Pellux
