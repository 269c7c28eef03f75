#pragma once

#include <cstdint>
#include <string>

namespace Pellux {

struct ParsedUrl {
  std::string scheme = "http";
  std::string host;
  std::int32_t port = 80;
  std::string path;
};

// Splits "scheme://host[:port][/path]" into its parts. False when the text does not have that
// shape; `url` then carries no meaning. A port has at most four digits.
bool ParseUrl(const std::string& text, ParsedUrl& url);

}  // namespace Pellux
