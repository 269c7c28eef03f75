#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/usb_serial_port.h"
#include "link/base_station_devices.h"
#include "link/station_settings_reader.h"

namespace Pellux {

// The base stations of a Linux machine: the USB serial ports udev describes (ListUsbSerialPorts)
// opened as ttys (DSISerialTTY), and the power cycle through sysfs (RestartUsbDevices).
//
// The setting "SerialPort" (section "Tracker", a text, empty by default) names a device path to
// use instead of discovery: for a serial adapter udev cannot describe, and for pellux-sim's
// pseudo-terminal. The list is then that one port, reported with the configured "VID" and "PID"
// (so that the engine's lookup by those ids finds it) and with the serial and product texts udev
// has for the same device, if any. The settings are read through `settings` on every listing, so
// a change takes effect at the next opening.
//
// Thread-safe; the settings reader, and this object, must outlive every transport it made.
class LinuxBaseStationDevices final : public BaseStationDevices {
 public:
  // The engine's own defaults for "VID" and "PID" (session/client_settings.h), for a store that
  // has none yet.
  static constexpr std::uint16_t kDefaultVendorId = 0x10C4;
  static constexpr std::uint16_t kDefaultProductId = 0x84C4;

  // `discover` lists the attached ports; empty: udev's listing.
  LinuxBaseStationDevices(StationSettingsReader& settings, DeviceLog log,
                          UsbSerialPortLister discover);
  LinuxBaseStationDevices(StationSettingsReader& settings, DeviceLog log);

  [[nodiscard]] std::vector<BaseStationCandidate> Candidates() override;
  std::shared_ptr<DSISerial> CreateTransport() override;
  void RestartDevices(std::uint16_t vendorId, std::uint16_t productId) override;

  // The ports as the transports see them: positions are device numbers.
  [[nodiscard]] std::vector<UsbSerialPort> Ports();

 private:
  void Log(int level, const std::string& line) const;

  StationSettingsReader& settings_;
  const DeviceLog log_;
  const UsbSerialPortLister discover_;
  std::mutex mutex_;
  // The last "SerialPort" seen, to log a change once.
  std::string lastConfigured_;
};

}  // namespace Pellux
