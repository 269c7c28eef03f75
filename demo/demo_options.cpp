#include "demo/demo_options.h"

#include <boost/lexical_cast.hpp>
#include <iostream>

namespace Pellux {
namespace {

// A whole decimal number within [low, high], or nothing.
std::optional<int> Number(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const int value = boost::lexical_cast<int>(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

DemoOptions::Parsed DemoOptions::Parse(const std::vector<std::string>& arguments) {
  Parsed parsed;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h") {
      parsed.wantsHelp = true;
    } else if (argument == "--server" && hasValue) {
      const std::string& value = arguments[++i];
      const std::size_t colon = value.rfind(':');
      const std::optional<int> port =
          colon == std::string::npos ? std::nullopt : Number(value.substr(colon + 1), 1, 65535);
      if (colon == std::string::npos || colon == 0 || !port) {
        parsed.error = "--server wants HOST:PORT with a port from 1 to 65535, not '" + value + "'";
        return parsed;
      }
      parsed.options.serverHost = value.substr(0, colon);
      parsed.options.serverPort = static_cast<std::uint16_t>(*port);
    } else if (argument == "--sessions" && hasValue) {
      const std::string& value = arguments[++i];
      const std::optional<int> sessions = Number(value, 1, 1000);
      if (!sessions) {
        parsed.error = "--sessions wants a number from 1 to 1000, not '" + value + "'";
        return parsed;
      }
      parsed.options.sessions = *sessions;
    } else {
      parsed.error = "unknown or incomplete argument '" + argument + "'";
      return parsed;
    }
  }
  return parsed;
}

int DemoOptions::Main(int argc, char** argv, const char* program, int (*run)(const DemoOptions&)) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const Parsed parsed = Parse(arguments);
  if (parsed.wantsHelp) {
    std::cout << kUsage;
    return 0;
  }
  if (!parsed.error.empty()) {
    std::cerr << program << ": " << parsed.error << "\n" << kUsage;
    return 2;
  }
  return run(parsed.options);
}

}  // namespace Pellux
