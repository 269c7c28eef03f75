// pellux-demo: the real Linux daemon at work on this machine. It starts pellux-sim (a virtual
// base station with a virtual tracker behind a pseudo-terminal), points the daemon's settings at
// it ("SerialPort") and at the reference upload server on loopback (or the server named on the
// command line), runs `uplinker` in the foreground with its log lines on this terminal, follows
// the uploads through the daemon's own UI socket, and stops the daemon with SIGTERM at the end.

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "demo/child_program_linux.h"
#include "demo/demo_options.h"
#include "demo/demo_scenario.h"
#include "sim/reference_server.h"
#include "tools/pelluxctl/ui_connection.h"
#include "ui/channel/ui_message.h"
#include "ui/settings/settings_store.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using Stream = ChildProgram::Stream;

// Long enough for a session of the default scenario several times over.
constexpr std::chrono::seconds kSessionLimit{120};
constexpr const char* kConnectionFailed = "Connection to server failed.";

// The daemon's view of its base station and last upload, asked over its UI socket as any UI
// does; nullopt when it does not answer.
std::optional<StatusReply> AskStatus(UiConnection& connection) {
  std::string error;
  if (connection.Send(JoinUiMessage(UiCode::kStatusPoll, connection.ReplyName()), error) !=
      UiConnection::SendResult::kSent) {
    return std::nullopt;
  }
  const auto until = std::chrono::steady_clock::now() + 2s;
  while (std::chrono::steady_clock::now() < until) {
    const auto reply = connection.Receive(500ms, error);
    if (reply && !reply->empty() && reply->front() == UiCode::kStatus) {
      return DecodeStatusText(std::string_view(*reply).substr(1));
    }
  }
  return std::nullopt;
}

int Run(const DemoOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  const DemoScenario scenario = DemoScenario::Default();

  std::unique_ptr<ReferenceServer> server;
  const std::string host = options.serverHost.value_or("127.0.0.1");
  std::uint16_t port = options.serverPort;
  std::size_t documentBytes = 0;
  if (!options.serverHost) {
    server = std::make_unique<ReferenceServer>();
    port = server->Port();
    for (int session = 0; session < options.sessions; ++session) {
      const auto documents = scenario.DocumentsFor(host, port);
      for (const std::string& document : documents) documentBytes += document.size();
      server->ScriptDocuments(documents);
    }
    std::cout << "Reference upload server listening on 127.0.0.1:" << port << "\n";
  }

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("pellux-demo-" + std::to_string(getpid()));
  for (const char* part : {"state", "logs", "run"}) {
    std::filesystem::create_directories(folder / part);
  }

  std::vector<std::string> simArguments{PELLUX_SIM_PATH};
  simArguments.insert(simArguments.end(), scenario.simArguments.begin(),
                      scenario.simArguments.end());
  ChildProgram sim(simArguments);
  const std::optional<std::string> pty = sim.ReadLine(Stream::kOut, 10s);
  if (!sim.Error().empty() || !pty) {
    std::cerr << "pellux-demo: pellux-sim did not start " << sim.Error() << "\n";
    return 1;
  }
  std::cout << "pellux-sim: a virtual base station at " << *pty << "\n";
  {
    auto settings = SettingsStore::CreateForPlatform(
        (folder / "state" / "settings.json").string(),
        [](const std::string& line) { std::cerr << "pellux-demo: " << line << "\n"; });
    settings->WriteText("Tracker", "ServerHost", host);
    settings->WriteNumber("Tracker", "ServerPort", port);
    settings->WriteText("Tracker", "ErrorHost", host);
    settings->WriteNumber("Tracker", "ErrorPort", port);
    settings->WriteText("Tracker", "SerialPort", *pty);
    settings->WriteNumber("Tracker", "LogActivity", 1);
    settings->WriteNumber("Tracker", "MaxLogDays", 1);
  }

  std::cout << "Starting " << PELLUX_UPLINKER_PATH << " with its folders in " << folder.string()
            << "\n";
  ChildProgram uplinker({PELLUX_UPLINKER_PATH}, {{"STATE_DIRECTORY", (folder / "state").string()},
                                                 {"LOGS_DIRECTORY", (folder / "logs").string()},
                                                 {"RUNTIME_DIRECTORY", (folder / "run").string()}});
  if (!uplinker.Error().empty()) {
    std::cerr << "pellux-demo: " << uplinker.Error() << "\n";
    return 1;
  }
  // The daemon's lines, as they come, with the seconds since the demo started.
  std::atomic<bool> failed{false};
  std::thread lines([&] {
    while (const auto line = uplinker.ReadLine(Stream::kErr, 24h)) {
      std::printf("%8.3f  %s\n", elapsed(), line->c_str());
      std::fflush(stdout);
      if (line->find(kConnectionFailed) != std::string::npos) failed.store(true);
    }
  });

  // Each upload ends with the tracker put to sleep: the daemon's last sleep time moves on.
  std::string error;
  auto connection = UiConnection::Open((folder / "run" / "service.sock").string(),
                                       "@pellux-demo-" + std::to_string(getpid()), error);
  std::set<std::int64_t> sleeps;
  bool open = false;
  const auto until = std::chrono::steady_clock::now() + kSessionLimit * options.sessions;
  while (connection && !failed.load() &&
         sleeps.size() < static_cast<std::size_t>(options.sessions) &&
         std::chrono::steady_clock::now() < until) {
    if (const auto status = AskStatus(*connection)) {
      open = open || status->baseStationOpen;
      if (status->lastSleepTime != 0) sleeps.insert(status->lastSleepTime);
    }
    std::this_thread::sleep_for(250ms);
  }
  connection.reset();

  const int daemonExit = uplinker.Stop();
  lines.join();
  const int simExit = sim.Stop();
  std::string simSummary;
  while (const auto line = sim.ReadLine(Stream::kErr, 1s)) simSummary = *line;
  if (server) server->Stop();

  int status = 0;
  if (!error.empty()) {
    std::cerr << "pellux-demo: " << error << "\n";
    status = 1;
  } else if (failed.load()) {
    std::cerr << "pellux-demo: the upload server at " << host << ":" << port
              << " cannot be reached or refused the upload (see the lines above)\n";
    status = 1;
  } else if (sleeps.size() < static_cast<std::size_t>(options.sessions)) {
    std::cerr << "pellux-demo: " << sleeps.size() << " of " << options.sessions
              << " sessions finished within the time allowed\n";
    status = 1;
  }
  if (daemonExit != 0 || simExit != 0) {
    std::cerr << "pellux-demo: uplinker exited with " << daemonExit << ", pellux-sim with "
              << simExit << "\n";
    status = 1;
  }

  std::printf("\nSummary: %zu session(s) in %.1f s; uplinker stopped with SIGTERM (exit %d)\n",
              sleeps.size(), elapsed(), daemonExit);
  if (server) {
    std::size_t sent = 0;
    const auto requests = server->Requests();
    for (const RecordedRequest& request : requests) sent += request.body.size();
    std::printf(
        "Server: %zu request(s), %zu bytes received from the uploader, %zu bytes of "
        "documents sent to it\n",
        requests.size(), sent, documentBytes);
  }
  std::printf("Simulator: %s\n", simSummary.c_str());
  std::printf("Activity log and settings: %s\n", folder.c_str());
  return status;
}

}  // namespace
}  // namespace Pellux

int main(int argc, char** argv) {
  return Pellux::DemoOptions::Main(argc, argv, "pellux-demo", Pellux::Run);
}
