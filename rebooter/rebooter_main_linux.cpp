// rebooter: stops pellux.service, ends the daemon's process if it is still there, power-cycles
// the base station and starts the service again. Started by the daemon as an instance of
// pellux-rebooter@.service (one word: "<vendor id>-<product id>-<process id>"), or by hand with
// the three words; its lines go to the journal through standard output and error.

#include <iostream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "rebooter/linux_rebooter_system_linux.h"
#include "rebooter/rebooter.h"
#include "rebooter/rebooter_instance_linux.h"

namespace {

// A refused word as it may be shown: printable ASCII only, and not too much of it.
std::string Shown(const std::string& word) {
  std::string shown;
  for (const char c : word.substr(0, 64)) shown += (c >= ' ' && c <= '~') ? c : '?';
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  const std::optional<Pellux::RebooterArguments> arguments = Pellux::ReadRebooterCommandLine(words);
  if (!arguments) {
    std::cerr << "Refused unit instance \"" << Shown(words.front())
              << "\": expected <vendor id>-<product id>-<process id>\n";
    return 1;
  }
  Pellux::SystemClock& clock = Pellux::SystemClock::Instance();
  Pellux::LinuxRebooterSystem system(clock, std::cerr);
  Pellux::RunRebooter(*arguments, system, clock, std::cout, std::cerr);
  return 0;
}
