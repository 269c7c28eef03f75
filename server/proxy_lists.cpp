#include "server/proxy_lists.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <vector>

namespace Pellux {
namespace {

std::vector<std::string> Entries(const std::string& list) {
  std::vector<std::string> entries;
  std::string entry;
  for (const char c : list) {
    if (c == ';' || c == ' ' || c == '\t' || c == ',') {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  if (!entry.empty()) entries.push_back(entry);
  return entries;
}

}  // namespace

std::string ProxyForScheme(const std::string& serverList, const std::string& scheme) {
  const std::string wanted = boost::algorithm::to_lower_copy(scheme);
  std::string any;
  for (const std::string& entry : Entries(serverList)) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (any.empty()) any = entry;
      continue;
    }
    if (boost::algorithm::to_lower_copy(entry.substr(0, equals)) == wanted) {
      return entry.substr(equals + 1);
    }
  }
  return any;
}

}  // namespace Pellux
