#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "base/clock.h"
#include "link/ant_radio.h"
#include "link/base_station_devices.h"
#include "link/link_identifiers.h"
#include "server/http_exchange.h"
#include "server/network_worker_pool.h"
#include "session/communication_manager.h"
#include "ui/settings/settings_store.h"
#include "ui/user_interface.h"

namespace Pellux {

// The whole uploader of one process, wired in one place: the HTTP transport and its network
// workers, the user interface over them, and the session engine with its radio side on the
// base stations the platform finds. The Windows service, the Linux daemon, the demo and the
// whole-system tests each give their platform's pieces and use the rest as it is.
//
// Built in the order of that list and taken down in reverse: the engine goes before the user
// interface it logs through, and the workers stop before the engine does, so that no answer
// arrives for an engine that is going.
//
// Threads: build, Stop and destroy on one thread; the engine and the user interface are
// thread-safe as they say.
class Uploader {
 public:
  // Makes the user interface over the settings and the network workers; both outlive it.
  using UserInterfaceFactory =
      std::function<std::unique_ptr<UserInterface>(SettingsStore&, NetworkWorkerPool&)>;

  // What differs between the platforms and the programs. The settings, devices, clock and
  // identifiers must outlive the uploader.
  struct Pieces {
    SettingsStore& settings;
    BaseStationDevices& devices;
    Clock& clock;
    UserInterfaceFactory makeUserInterface;
    // Where the HTTP transport's own lines go; none when empty.
    HttpExchange::Log httpLog;
    HttpExchange::Limits httpLimits{};
    AntRadio::Timing radioTiming{};
    // The identifiers of this host's links; the process's own when null.
    LinkIdentifiers* identifiers = nullptr;
    // The engine's watchdog relaunches a base station silent for longer than this.
    std::chrono::seconds watchdogIdleLimit = CommunicationManager::kWatchdogIdleLimit;
  };

  explicit Uploader(Pieces pieces);
  Uploader(const Uploader&) = delete;
  Uploader& operator=(const Uploader&) = delete;
  ~Uploader();

  [[nodiscard]] CommunicationManager& Engine() { return *engine_; }
  [[nodiscard]] UserInterface& Interface() { return *ui_; }

  // Shuts the engine down and stops the network workers; what is built stays until the
  // uploader goes. Once is enough; later calls do nothing.
  void Stop();

 private:
  std::unique_ptr<HttpExchange> exchange_;
  std::unique_ptr<NetworkWorkerPool> pool_;
  std::unique_ptr<UserInterface> ui_;
  std::unique_ptr<CommunicationManager> engine_;
  bool stopped_ = false;
};

}  // namespace Pellux
