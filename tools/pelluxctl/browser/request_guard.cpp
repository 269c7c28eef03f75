#include "tools/pelluxctl/browser/request_guard.h"

#include <charconv>
#include <utility>

namespace Pellux {
namespace {

RequestGuard::Verdict Refused(std::string why) {
  RequestGuard::Verdict verdict;
  verdict.why = std::move(why);
  return verdict;
}

// Outside text in a line of ours: at most 80 bytes, every byte that is not printable ASCII as
// "?", so that a request cannot write escape sequences to the user's terminal.
std::string Printable(std::string_view text) {
  constexpr std::size_t kMax = 80;
  std::string out;
  for (const char c : text.substr(0, kMax)) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  if (text.size() > kMax) out += "...";
  return out;
}

}  // namespace

std::optional<int> PageNumberOf(std::string_view path, std::string_view tail) {
  constexpr std::string_view kPage = "page/";
  if (path.size() < kPage.size() + tail.size() || !path.starts_with(kPage) ||
      !path.ends_with(tail)) {
    return std::nullopt;
  }
  const std::string_view digits =
      path.substr(kPage.size(), path.size() - kPage.size() - tail.size());
  int number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      number < 1) {
    return std::nullopt;
  }
  return number;
}

bool SameSecret(std::string_view a, std::string_view b) {
  unsigned difference = a.size() == b.size() ? 0U : 1U;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const unsigned char other = i < b.size() ? static_cast<unsigned char>(b[i]) : 0U;
    difference |= static_cast<unsigned char>(a[i]) ^ other;
  }
  return difference == 0;
}

RequestGuard::RequestGuard(std::string token, std::uint16_t port)
    : token_(std::move(token)),
      host_("127.0.0.1:" + std::to_string(port)),
      origin_("http://" + host_) {}

std::string RequestGuard::PageUrl() const {
  return origin_ + "/" + token_ + "/";
}

RequestGuard::Verdict RequestGuard::Check(const Request& request) const {
  // The token first, so that nothing else is said to someone who does not have it.
  std::string_view target = request.target;
  if (const std::size_t query = target.find('?'); query != std::string_view::npos) {
    target = target.substr(0, query);
  }
  if (!target.starts_with('/')) return Refused("a request for '" + Printable(target) + "'");
  target.remove_prefix(1);
  const std::size_t slash = target.find('/');
  if (slash == std::string_view::npos || !SameSecret(target.substr(0, slash), token_)) {
    return Refused("a request without the session's token");
  }
  const std::string_view path = target.substr(slash + 1);
  if (request.host != host_) {
    return Refused("a request for the host '" + Printable(request.host) + "'");
  }
  if (request.method == "GET" || request.method == "HEAD") {
    Verdict verdict;
    verdict.allowed = true;
    verdict.path = path;
    return verdict;
  }
  if (request.method != "POST") {
    return Refused("a " + Printable(request.method) + " request");
  }
  if (!request.origin) return Refused("a post without an Origin");
  const bool own = *request.origin == origin_;
  const bool fromFrame = *request.origin == "null" && PageNumberOf(path, "/form").has_value();
  if (!own && !fromFrame) {
    return Refused("a post from the origin '" + Printable(*request.origin) + "'");
  }
  Verdict verdict;
  verdict.allowed = true;
  verdict.path = path;
  return verdict;
}

}  // namespace Pellux
