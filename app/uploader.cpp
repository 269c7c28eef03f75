#include "app/uploader.h"

#include <stdexcept>
#include <utility>

namespace Pellux {

Uploader::Uploader(Pieces pieces) {
  HttpExchange::Log httpLog =
      pieces.httpLog ? std::move(pieces.httpLog) : [](const std::string& /*line*/) {};
  exchange_ = HttpExchange::CreateForPlatform(std::move(httpLog), std::move(pieces.httpLimits));
  pool_ = std::make_unique<NetworkWorkerPool>(*exchange_);
  ui_ = pieces.makeUserInterface(pieces.settings, *pool_);
  if (ui_ == nullptr) throw std::invalid_argument("Uploader: no user interface was made");

  UserInterface& ui = *ui_;
  BaseStationDevices& devices = pieces.devices;
  Clock& clock = pieces.clock;
  LinkIdentifiers& identifiers =
      pieces.identifiers != nullptr ? *pieces.identifiers : LinkIdentifiers::ForProcess();
  const AntRadio::Timing timing = pieces.radioTiming;
  engine_ = std::make_unique<CommunicationManager>(
      &ui,
      [&](RadioEvents& events) {
        return std::make_unique<AntRadio>(events, ui, devices, clock, identifiers, timing);
      },
      clock, pieces.watchdogIdleLimit);
}

Uploader::~Uploader() {
  Stop();
  engine_.reset();
  ui_.reset();
  pool_.reset();
  exchange_.reset();
}

void Uploader::Stop() {
  if (stopped_) return;
  stopped_ = true;
  engine_->ProcessAction(0, "shutdown", "", false, kNoContext);
  pool_->Stop();
}

}  // namespace Pellux
