#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "link/base_station_devices.h"
#include "sim/virtual_base_station.h"

namespace Pellux {

// A USB bus with virtual base stations on it, as the radio side's device list: the stations
// that are plugged in are the candidates, in the order they were attached, and a transport
// made here opens the station at the position Init names. Thread-safe.
class VirtualDeviceBus final : public BaseStationDevices {
 public:
  // Puts `station` on the bus with the USB ids it reports; it must outlive the bus and every
  // transport made for it.
  void Attach(VirtualBaseStation& station, std::uint16_t vendorId, std::uint16_t productId);

  [[nodiscard]] std::vector<BaseStationCandidate> Candidates() override;
  std::shared_ptr<DSISerial> CreateTransport() override;
  void RestartDevices(std::uint16_t vendorId, std::uint16_t productId) override;

  // Restart requests so far, with the ids of the last.
  [[nodiscard]] int Restarts() const;
  [[nodiscard]] std::pair<std::uint16_t, std::uint16_t> LastRestartIds() const;
  // Transports made so far.
  [[nodiscard]] int TransportsMade() const;

  // The station at list position `position` now, or null.
  VirtualBaseStation* StationAt(std::uint8_t position);

 private:
  struct Slot {
    VirtualBaseStation* station;
    std::uint16_t vendorId;
    std::uint16_t productId;
  };

  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  int restarts_ = 0;
  std::pair<std::uint16_t, std::uint16_t> lastRestart_{0, 0};
  int transports_ = 0;
};

}  // namespace Pellux
