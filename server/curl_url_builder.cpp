#include "server/curl_url_builder.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>

#include "base/log_format.h"

namespace Pellux {
namespace {

// Outside text as it may appear in one log line: control and non-ASCII bytes as \xNN, and no
// more than a line's worth of it.
std::string Printable(const std::string& text) {
  constexpr std::size_t kMaxShown = 200;
  std::string shown;
  for (std::size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte >= 0x7F || byte == '\\') {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  if (text.size() > kMaxShown) shown += "...";
  return shown;
}

// libcurl takes an IPv6 literal only in brackets, where WinInet takes it bare. Only what could
// be one (hex digits, ':' and '.', then any zone after '%') is bracketed, so that libcurl's
// refusal of anything else shows the host as it was given.
bool LooksLikeIpv6(const std::string& host) {
  const std::string address = host.substr(0, host.find('%'));
  if (address.find(':') == std::string::npos) return false;
  return std::ranges::all_of(address, [](char c) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    return hex || c == ':' || c == '.';
  });
}

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
  void operator()(char* text) const { curl_free(text); }
};

std::string Refusal(const char* call, const char* part, CURLUcode code, const std::string& value) {
  return FormatLine("%s(%s, \"%s\") failed with %d: %s", call, part, Printable(value),
                    static_cast<int>(code), curl_url_strerror(code))
      .str();
}

}  // namespace

CurlUrl BuildCurlUrl(const std::string& scheme, const std::string& host, std::int32_t port,
                     const std::string& path) {
  CurlUrl result;
  const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
  if (!url) {
    result.error = "curl_url() returned nothing";
    return result;
  }
  const auto set = [&](CURLUPart part, const char* partName, const std::string& value) {
    const CURLUcode code = curl_url_set(url.get(), part, value.c_str(), 0);
    if (code != CURLUE_OK) result.error = Refusal("curl_url_set", partName, code, value);
    return code == CURLUE_OK;
  };
  const bool ipv6 = LooksLikeIpv6(host);
  if (!set(CURLUPART_SCHEME, "CURLUPART_SCHEME", scheme) ||
      !set(CURLUPART_HOST, "CURLUPART_HOST", ipv6 ? "[" + host + "]" : host) ||
      (port != 0 && !set(CURLUPART_PORT, "CURLUPART_PORT", std::to_string(port))) ||
      !set(CURLUPART_PATH, "CURLUPART_PATH", path.starts_with('/') ? path : "/" + path)) {
    return result;
  }
  char* text = nullptr;
  const CURLUcode code = curl_url_get(url.get(), CURLUPART_URL, &text, 0);
  const std::unique_ptr<char, TextDeleter> owned(text);
  if (code != CURLUE_OK || text == nullptr) {
    result.error = FormatLine("curl_url_get(CURLUPART_URL) failed with %d: %s",
                              static_cast<int>(code), curl_url_strerror(code))
                       .str();
    return result;
  }
  // The exchange hands libcurl this text, which it reads back with its stricter URL parser:
  // a path that parser refuses (blanks, line breaks) is refused here, before any connection.
  const std::unique_ptr<CURLU, UrlDeleter> check(curl_url());
  if (!check) {
    result.error = "curl_url() returned nothing";
    return result;
  }
  const CURLUcode reread = curl_url_set(check.get(), CURLUPART_URL, text, 0);
  if (reread != CURLUE_OK) {
    result.error = Refusal("curl_url_set", "CURLUPART_URL", reread, text);
    return result;
  }
  result.url = text;
  return result;
}

}  // namespace Pellux
