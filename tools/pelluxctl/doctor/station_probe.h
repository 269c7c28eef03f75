#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Pellux {

// One serial port of a USB device with the base station's ids, as the device manager (udev)
// describes it. Every text comes from the system and is shown as data only.
struct StationPort {
  // The device node, /dev/ttyUSB0; empty when the tty has none.
  std::string node;
  std::string ttySysPath;
  // The tty's udev property ID_MM_DEVICE_IGNORE (ModemManager leaves the port alone when it is
  // "1"); nothing when the property is not set.
  std::optional<std::string> modemManagerIgnore;
};

// One interface of a USB device with the base station's ids, and the driver bound to it.
struct StationInterface {
  std::string sysPath;
  // "cp210x"; empty when no driver is bound (then the station has no tty).
  std::string driver;
};

struct StationListing {
  // False when the devices could not be listed; `error` says why.
  bool listed = false;
  std::string error;
  std::vector<StationInterface> interfaces;
  std::vector<StationPort> ports;
};

// Finds the base station's ports: udev on Linux. Called by `pelluxctl doctor` on its one
// thread; each call lists anew.
class StationProbe {
 public:
  StationProbe() = default;
  StationProbe(const StationProbe&) = delete;
  StationProbe& operator=(const StationProbe&) = delete;
  virtual ~StationProbe() = default;

  // The interfaces of every USB device with these ids and the tty ports below them, each in
  // the order of their sysfs paths. Never throws.
  virtual StationListing Ports(std::uint16_t vendorId, std::uint16_t productId) = 0;

  static std::unique_ptr<StationProbe> CreateForPlatform();
};

}  // namespace Pellux
