// pelluxctl: a command-line UI for the Pellux uploader service.

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "tools/pelluxctl/pelluxctl_options.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "tools/pelluxctl/terminal.h"
#include "tools/pelluxctl/ui_connection.h"

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int /*signal*/) {
  interrupted.store(true);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace Pellux;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const PelluxctlParse parse = ParsePelluxctlArguments(arguments);
  switch (parse.outcome) {
    case PelluxctlParse::Outcome::kHelp:
      std::cout << parse.text;
      return kPelluxctlOk;
    case PelluxctlParse::Outcome::kUsageError:
      std::cerr << "pelluxctl: " << parse.text << "\n" << PelluxctlUsage();
      return kPelluxctlUsage;
    case PelluxctlParse::Outcome::kRun:
      break;
  }
  const PelluxctlOptions& options = parse.options;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);

  const std::string service =
      options.service.empty() ? UiConnection::DefaultServiceName() : options.service;
  const std::string reply =
      options.reply.empty() ? UiConnection::DefaultReplyName() : options.reply;
  std::string error;
  auto connection = UiConnection::Open(service, reply, error);
  if (connection == nullptr) {
    std::cerr << "pelluxctl: cannot make the reply endpoint " << reply << ": " << error << "\n";
    return kPelluxctlFailed;
  }
  PelluxctlIo io{std::cout, std::cerr, std::cin, interrupted};
  io.terminal = StandardOutputIsTerminal();
  return RunPelluxctl(options, *connection, io);
}
