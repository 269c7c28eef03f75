#include "server/parse_url.h"

#include <boost/regex.hpp>

namespace Pellux {

bool ParseUrl(const std::string& text, ParsedUrl& url) {
  static const boost::regex pattern(R"(^([^:]+)://([^:/]+)(?::(\d{1,4}))?(/.*)?$)",
                                    boost::regex::perl);
  boost::smatch match;
  if (!boost::regex_match(text, match, pattern)) return false;
  url.scheme = match[1].str();
  url.host = match[2].str();
  url.port = match[3].matched && match[3].length() > 0 ? std::stoi(match[3].str()) : 80;
  url.path = match[4].matched ? match[4].str() : std::string();
  return true;
}

}  // namespace Pellux
