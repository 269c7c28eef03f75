// pellux-reference-server: the reference upload server as a program. It plays the documents of
// a scenario file ("---" lines between documents; "{host}" and "{port}" stand for where it
// listens) and prints every request it receives, until interrupted.

#include <atomic>
#include <boost/algorithm/string/replace.hpp>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "sim/reference_server.h"

namespace {

std::atomic<bool> interrupted{false};

void OnSignal(int /*signal*/) {
  interrupted = true;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint16_t port = 0;
  std::string scenarioPath;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--port" && i + 1 < argc) {
      const int value = std::atoi(argv[++i]);
      if (value < 0 || value > 65535) {
        std::cerr << "pellux-reference-server: bad port\n";
        return 2;
      }
      port = static_cast<std::uint16_t>(value);
    } else if (argument == "--scenario" && i + 1 < argc) {
      scenarioPath = argv[++i];
    } else {
      std::cerr << "usage: pellux-reference-server [--port P] [--scenario FILE]\n";
      return 2;
    }
  }
  std::string scenario;
  if (!scenarioPath.empty()) {
    std::ifstream file(scenarioPath);
    if (!file) {
      std::cerr << "pellux-reference-server: cannot read " << scenarioPath << "\n";
      return 1;
    }
    std::ostringstream text;
    text << file.rdbuf();
    scenario = text.str();
  }

  Pellux::ReferenceServer server(port);
  boost::algorithm::replace_all(scenario, "{host}", "127.0.0.1");
  boost::algorithm::replace_all(scenario, "{port}", std::to_string(server.Port()));
  server.ScriptDocuments(Pellux::ReferenceServer::ParseScenario(scenario));
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;

  std::size_t printed = 0;
  while (!interrupted) {
    server.WaitForRequests(printed + 1, std::chrono::milliseconds(200));
    const auto requests = server.Requests();
    for (; printed < requests.size(); ++printed) {
      const auto& request = requests[printed];
      std::cout << request.method << " " << request.path << " (" << request.body.size()
                << " bytes): " << request.body.substr(0, 200) << std::endl;
    }
  }
  server.Stop();
  return 0;
}
