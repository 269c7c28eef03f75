// rebooter: stops pellux.service, ends the daemon's process if it is still there, power-cycles
// the base station and starts the service again. Started by the daemon as an instance of
// pellux-rebooter@.service (one word: "<vendor id>-<product id>-<process id>"), or by hand with
// the three words; its lines go to the journal through standard output and error. Exit status:
// 0 when every step succeeded and the service runs, 1 when one failed or the instance was
// refused, 2 for a usage error.

#include <iostream>
#include <string>
#include <vector>

#include "base/clock.h"
#include "rebooter/linux_rebooter_system_linux.h"
#include "rebooter/rebooter.h"
#include "rebooter/rebooter_command_line_linux.h"

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  const Pellux::RebooterCommandLine line = Pellux::ReadRebooterCommandLine(words);
  switch (line.kind) {
    case Pellux::RebooterCommandLine::Kind::Help:
      std::cout << Pellux::RebooterUsage() << std::flush;
      return 0;
    case Pellux::RebooterCommandLine::Kind::Usage:
      std::cerr << "rebooter: " << line.problem << "\n" << Pellux::RebooterUsage() << std::flush;
      return 2;
    case Pellux::RebooterCommandLine::Kind::RefusedInstance:
      std::cerr << line.problem << "\n" << std::flush;
      return 1;
    case Pellux::RebooterCommandLine::Kind::Run:
      break;
  }
  Pellux::SystemClock& clock = Pellux::SystemClock::Instance();
  Pellux::LinuxRebooterSystem system(clock, std::cerr);
  return Pellux::RunRebooter(line.arguments, system, clock, std::cout, std::cerr) ? 0 : 1;
}
