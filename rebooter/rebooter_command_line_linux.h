#pragma once

#include <string>
#include <vector>

#include "rebooter/rebooter_arguments.h"

namespace Pellux {

// The Linux rebooter's command line, without the program's name. The program runs as root and
// its words come from whoever may start its unit, so each word is read strictly:
//   (none)                  stop and start the service only
//   VENDOR PRODUCT [PID]    ids of one to four hexadecimal digits (either case, "0x" allowed),
//                           the process id in decimal, 2 to 2147483647, without a leading zero
//   VENDOR-PRODUCT-PID      the instance of pellux-rebooter@.service (ParseRebooterInstance)
//   --help, -h              the usage
struct RebooterCommandLine {
  enum class Kind {
    Run,              // `arguments` holds what to do
    Help,             // the usage on standard output, exit 0
    Usage,            // `problem` and the usage on standard error, exit 2
    RefusedInstance,  // `problem` on standard error, exit 1
  };
  Kind kind = Kind::Run;
  RebooterArguments arguments;
  std::string problem;  // one line without its line break; outside text shown escaped
};

RebooterCommandLine ReadRebooterCommandLine(const std::vector<std::string>& words);

// The usage text, several lines each ended by a line break.
const char* RebooterUsage();

}  // namespace Pellux
