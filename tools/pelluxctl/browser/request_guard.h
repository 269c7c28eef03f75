#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pellux {

// Who may use pelluxctl's browser page: the checks every request to its HTTP server passes
// before anything is served. A page of another site in the user's browser can send requests to
// any loopback port, and a name of the attacker's that resolves to 127.0.0.1 (DNS rebinding)
// makes them look same-origin; so each request must carry the session's random token as the
// first step of its path, name exactly this server in Host, and a post must come from this
// server's own origin. Pure; any thread.
class RequestGuard {
 public:
  struct Request {
    std::string_view method;
    // The request target as sent: "/<token>/<path>[?query]".
    std::string_view target;
    std::string_view host;
    // The Origin header; nullopt when the request had none.
    std::optional<std::string_view> origin;
  };

  struct Verdict {
    bool allowed = false;
    // Allowed: the target after the token and its slash, without the query ("" for the page
    // itself, "events", "page/2/form", ...). Refused: why, for pelluxctl's own output.
    std::string path;
    std::string why;
  };

  RequestGuard(std::string token, std::uint16_t port);

  // The one origin this server has: "http://127.0.0.1:<port>".
  [[nodiscard]] const std::string& Origin() const { return origin_; }
  // The page's address, token included, as the user opens it.
  [[nodiscard]] std::string PageUrl() const;

  // GET and HEAD need the token and the Host. POST needs an Origin too: this server's, or, for
  // a form posted from the page's sandboxed frame (which has no origin of its own, so browsers
  // send "null"), "null" where `path` is a form's address ("page/<n>/form").
  [[nodiscard]] Verdict Check(const Request& request) const;

 private:
  std::string token_;
  std::string host_;
  std::string origin_;
};

// The page number of a path of the page's frame, "page/<n>" followed by `tail` ("/" for the
// frame, "/form" for its form's address); nullopt for any other path or a number below 1.
std::optional<int> PageNumberOf(std::string_view path, std::string_view tail);

// Compares without stopping at the first difference, so that the time taken says nothing
// about how much of a guessed token was right.
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace Pellux
