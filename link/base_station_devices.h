#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/dsi_serial.h"

namespace Pellux {

// One attached USB serial bridge that may be a base station.
struct BaseStationCandidate {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serial;
  // Where the system names it: the tty's node on Linux, the product text on Windows; empty when
  // not known.
  std::string device;
};

// Where the radio side finds base stations and the transports that open them. Each platform
// has its own (vendor libraries on Windows, udev and a tty on Linux); tests give virtual ones.
// Every method is called by the radio side with the engine's lock held, and may block briefly
// (a device listing, a power cycle).
class BaseStationDevices {
 public:
  BaseStationDevices() = default;
  BaseStationDevices(const BaseStationDevices&) = delete;
  BaseStationDevices& operator=(const BaseStationDevices&) = delete;
  virtual ~BaseStationDevices() = default;

  // The attached candidates in a stable order; a candidate's position is the device number
  // that the transport's Init takes.
  [[nodiscard]] virtual std::vector<BaseStationCandidate> Candidates() = 0;
  // A new transport, not yet initialised; null when none can be made.
  virtual std::shared_ptr<DSISerial> CreateTransport() = 0;
  // Power-cycles every attached USB device with these ids (disable, then enable): a station
  // that vanished from the list while we still held it open often comes back this way.
  virtual void RestartDevices(std::uint16_t vendorId, std::uint16_t productId) = 0;
  // What keeps whole families of base stations from being found (a library of the vendor's
  // that is not there), one line each for an administrator; none by default. Asked once, by the
  // service at its start.
  [[nodiscard]] virtual std::vector<std::string> Unavailable() { return {}; }
};

}  // namespace Pellux
