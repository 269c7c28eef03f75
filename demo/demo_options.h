#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Pellux {

// The demo's command line.
struct DemoOptions {
  static constexpr const char* kUsage =
      "usage: pellux-demo [--server HOST:PORT] [--sessions N]\n"
      "  Runs background uploads of a virtual tracker through the real engine.\n"
      "  --server HOST:PORT  talk to this upload server instead of the built-in reference\n"
      "                      server (its default upload and error paths)\n"
      "  --sessions N        stop after N sessions (1 to 1000, default 1)\n";

  std::optional<std::string> serverHost;
  std::uint16_t serverPort = 0;
  int sessions = 1;

  struct Parsed;
  // Outside text: anything unexpected is refused with a message, never guessed at.
  static Parsed Parse(const std::vector<std::string>& arguments);

  // A demo program's main: parses argv, prints the usage (exit 0) or the error with it (exit 2)
  // on `program`'s behalf, else returns what `run` returns for the options.
  static int Main(int argc, char** argv, const char* program, int (*run)(const DemoOptions&));
};

struct DemoOptions::Parsed {
  DemoOptions options;
  bool wantsHelp = false;
  // Empty when the arguments were understood.
  std::string error;
};

}  // namespace Pellux
