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

bool Plain(const std::string& entry) {
  for (const char c : entry) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' || c == '[' ||
                         c == ']' || c == '/' || c == '_';
    if (!allowed) return false;
  }
  return true;
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

std::string NoProxyList(const std::string& bypass) {
  std::string result;
  const auto add = [&result](const std::string& entry) {
    if (!result.empty()) result += ',';
    result += entry;
  };
  for (const std::string& entry : Entries(bypass)) {
    if (boost::algorithm::to_lower_copy(entry) == "<local>") {
      add("localhost");
      add("127.0.0.1");
      add("::1");
      continue;
    }
    std::string name = entry;
    if (name.rfind("*.", 0) == 0) name = name.substr(1);
    if (name.empty() || !Plain(name)) continue;
    add(name);
  }
  return result;
}

}  // namespace Pellux
