#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/base_station_devices.h"

namespace Pellux {

// The base stations of a Windows machine: the candidates are the bridge devices
// whose product text reads, then the libusb devices of the base station vendors; a transport
// is a DSISerialSI over the bridge library; a restart power-cycles the USB devices with the
// given ids through SetupAPI. Every vendor library is loaded by full path from the program's
// own folder, the system libraries from the system folder.
class WinBaseStationDevices final : public BaseStationDevices {
 public:
  // `clock` takes the transports' reset sleeps.
  explicit WinBaseStationDevices(Clock& clock = SystemClock::Instance());

  [[nodiscard]] std::vector<BaseStationCandidate> Candidates() override;
  std::shared_ptr<DSISerial> CreateTransport() override;
  void RestartDevices(std::uint16_t vendorId, std::uint16_t productId) override;
  // Each bridge library missing from the program's folder (MissingBridgeLibraries).
  [[nodiscard]] std::vector<std::string> Unavailable() override;

 private:
  Clock& clock_;
};

}  // namespace Pellux
