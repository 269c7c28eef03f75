#pragma once

#include <string>
#include <vector>

#include "server/proxy_settings.h"

namespace Pellux {

// What pelluxctl was asked to do, read from its command line by a pure function.
struct PelluxctlOptions {
  enum class Command {
    kStatus,
    kLogging,
    kProxy,
    kRefresh,
    kOpen,
    kFinish,
    kSession,
    kDoctor,
    kUi
  };

  Command command = Command::kStatus;
  // status and doctor: print JSON; status: every change until Ctrl-C.
  bool json = false;
  bool follow = false;
  // The service's endpoint; empty: the platform's default.
  std::string service;
  // Where the service answers; empty: a name of this process's own (see the usage text).
  std::string reply;
  // logging
  bool loggingOn = false;
  int logDays = 0;
  // proxy
  ProxySettings proxy;
  // open
  std::string url;
  // session and ui
  std::string mode;
  // ui: print the page's address instead of opening a browser on it.
  bool noBrowser = false;
  // "-" for standard output, else the folder the pages are written to (empty: a new one).
  std::string html;
  // Form data sent after the first page; "-" for every line of standard input as it comes.
  std::vector<std::string> forms;
};

struct PelluxctlParse {
  enum class Outcome { kRun, kHelp, kUsageError };
  Outcome outcome = Outcome::kUsageError;
  PelluxctlOptions options;
  // What was wrong (kUsageError), or the help text to print (kHelp).
  std::string text;
};

// Reads the arguments after the program's name. Never throws; anything it cannot take is a
// usage error with a line that says why.
PelluxctlParse ParsePelluxctlArguments(const std::vector<std::string>& arguments);

// The usage text, and the proxy command's own.
std::string PelluxctlUsage();
std::string PelluxctlProxyUsage();

}  // namespace Pellux
