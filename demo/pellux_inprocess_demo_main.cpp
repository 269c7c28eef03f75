// pellux-inprocess-demo: one complete background upload, end to end, on this machine. The engine
// and its radio side run in real time against a virtual base station with a virtual tracker, and
// talk real HTTP over loopback to the reference upload server (or to the server named on the
// command line).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "app/uploader.h"
#include "base/clock.h"
#include "demo/demo_options.h"
#include "demo/demo_scenario.h"
#include "demo/demo_user_interface.h"
#include "session/client_settings.h"
#include "sim/memory_settings_store.h"
#include "sim/reference_server.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "ui/log/activity_log.h"

namespace Pellux {
namespace {

constexpr std::uint16_t kVendorId = 0x10C4;
constexpr std::uint16_t kProductId = 0x84C4;
// Long enough for a session of the default scenario several times over.
constexpr std::chrono::seconds kSessionLimit{120};

// A folder of its own for this run's activity log, under the system's temporary folder; it is
// left there for the user to read.
std::string NewLogFolder() {
  std::random_device random;
  return (std::filesystem::temp_directory_path() /
          ("pellux-demo-" + std::to_string(random()) + "/logs"))
      .string();
}

int Run(const DemoOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const DemoScenario scenario = DemoScenario::Default();

  std::unique_ptr<ReferenceServer> server;
  const std::string host = options.serverHost.value_or("127.0.0.1");
  std::uint16_t port = options.serverPort;
  if (!options.serverHost) {
    server = std::make_unique<ReferenceServer>();
    port = server->Port();
    for (int session = 0; session < options.sessions; ++session) {
      server->ScriptDocuments(scenario.DocumentsFor(host, port));
    }
    std::cout << "Reference upload server listening on 127.0.0.1:" << port << "\n";
  }

  MemorySettingsStore store;
  store.WriteText(kSettingsSection, "ServerHost", host);
  store.WriteNumber(kSettingsSection, "ServerPort", port);
  store.WriteText(kSettingsSection, "ErrorHost", host);
  store.WriteNumber(kSettingsSection, "ErrorPort", port);
  store.WriteNumber(ActivityLog::kSection, ActivityLog::kEnabledSetting, 1);
  store.WriteNumber(ActivityLog::kSection, ActivityLog::kDaysSetting, 1);
  const std::string logFolder = NewLogFolder();

  SystemClock& clock = SystemClock::Instance();
  VirtualBaseStation station(clock);
  station.WithTracker([&scenario](VirtualTracker& tracker) {
    for (const auto& [prefix, answer] : scenario.answers) tracker.SetAnswer(prefix, answer);
  });
  VirtualDeviceBus bus;
  bus.Attach(station, kVendorId, kProductId);

  int status = 0;
  DemoUserInterface::Counts done;
  {
    DemoUserInterface* ui = nullptr;
    Uploader uploader(
        {.settings = store,
         .devices = bus,
         .clock = clock,
         .makeUserInterface =
             [&ui, &logFolder](SettingsStore& settings, NetworkWorkerPool& pool) {
               auto made =
                   std::make_unique<DemoUserInterface>(settings, pool, std::cout, logFolder);
               ui = made.get();
               return made;
             },
         .httpLog =
             [](const std::string& line) { std::cout << "         [http] " << line << "\n"; }});
    ui->Activity().Open();
    CommunicationManager& engine = uploader.Engine();
    // The station is attached before the service starts, as after a boot: its arrival is only
    // noted, and the first session opens it.
    engine.ProcessAction(0, "basestationconnect", "4021337", false, kNoContext);
    engine.ProcessAction(0, "init", "standard", false, kNoContext);

    const auto wanted = static_cast<std::size_t>(options.sessions);
    const bool finished = ui->WaitFor(
        [wanted](const DemoUserInterface::Counts& counts) {
          return counts.sessionsDone >= wanted || counts.failedExchanges > 0;
        },
        kSessionLimit * options.sessions);
    const DemoUserInterface::Counts counts = ui->Snapshot();
    if (counts.failedExchanges > 0) {
      std::cerr << "pellux-demo: the upload server at " << host << ":" << port
                << " cannot be reached or refused the upload (see the lines above)\n";
      status = 1;
    } else if (!finished) {
      std::cerr << "pellux-demo: " << counts.sessionsDone << " of " << options.sessions
                << " sessions finished within the time allowed\n";
      status = 1;
    }
    // No answer may reach the engine once it is gone: the workers stop with it.
    uploader.Stop();
    done = ui->Snapshot();
  }
  if (server) server->Stop();

  const TrackerSnapshot tracker = station.Tracker();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "\nSummary: %zu session(s), %zu request(s), %zu bytes sent, %zu bytes received, "
      "%zu operation(s) run on the tracker, %.1f s\n",
      done.sessionsDone, done.requests, done.bytesSent, done.bytesReceived, tracker.commands.size(),
      seconds);
  std::printf("Activity log: %s\n", logFolder.c_str());
  return status;
}

}  // namespace
}  // namespace Pellux

int main(int argc, char** argv) {
  return Pellux::DemoOptions::Main(argc, argv, "pellux-demo", Pellux::Run);
}
