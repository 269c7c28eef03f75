#include <filesystem>
#include <system_error>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "device/dsi_serial_tty_linux.h"
#include "device/udev_devices_linux.h"
#include "link/linux_base_station_devices.h"

namespace Pellux {
namespace {

// The same device whatever link names it (/dev/serial/by-id/..., /dev/ttyUSB0).
std::string Canonical(const std::string& path) {
  std::error_code error;
  std::filesystem::path resolved = std::filesystem::canonical(path, error);
  return error ? path : resolved.string();
}

// A stored id, or `fallback` when there is none or it is not a USB id.
std::uint16_t UsbId(std::optional<std::uint32_t> stored, std::uint16_t fallback) {
  if (!stored || *stored > 0xFFFF) return fallback;
  return static_cast<std::uint16_t>(*stored);
}

}  // namespace

LinuxBaseStationDevices::LinuxBaseStationDevices(StationSettingsReader& settings, DeviceLog log,
                                                 UsbSerialPortLister discover)
    : settings_(settings), log_(std::move(log)), discover_(std::move(discover)) {}

LinuxBaseStationDevices::LinuxBaseStationDevices(StationSettingsReader& settings, DeviceLog log)
    : LinuxBaseStationDevices(settings, std::move(log), UsbSerialPortLister{}) {}

std::vector<UsbSerialPort> LinuxBaseStationDevices::Ports() {
  const std::string configured = settings_.SerialPort();
  std::vector<UsbSerialPort> discovered =
      discover_
          ? discover_()
          : ListUsbSerialPorts([this](int level, const std::string& line) { Log(level, line); });
  {
    std::lock_guard guard(mutex_);
    if (configured != lastConfigured_) {
      lastConfigured_ = configured;
      Log(LogLevel::kLifecycle,
          configured.empty()
              ? std::string("SerialPort is empty: base stations are found through udev.")
              : FormatLine("SerialPort names '%s': it is the one base station, udev's list is "
                           "not used.",
                           configured)
                    .str());
    }
  }
  if (configured.empty()) return discovered;

  UsbSerialPort port;
  port.node = configured;
  const std::string wanted = Canonical(configured);
  for (const UsbSerialPort& each : discovered) {
    if (Canonical(each.node) == wanted) {
      port = each;
      port.node = configured;
      break;
    }
  }
  port.vendorId = UsbId(settings_.VendorId(), kDefaultVendorId);
  port.productId = UsbId(settings_.ProductId(), kDefaultProductId);
  return {port};
}

std::vector<BaseStationCandidate> LinuxBaseStationDevices::Candidates() {
  std::vector<BaseStationCandidate> candidates;
  for (const UsbSerialPort& port : Ports()) {
    candidates.push_back({port.vendorId, port.productId, port.serial, port.node});
  }
  return candidates;
}

std::shared_ptr<DSISerial> LinuxBaseStationDevices::CreateTransport() {
  return std::make_shared<DSISerialTTY>(
      [this] { return Ports(); }, [this](int level, const std::string& line) { Log(level, line); });
}

void LinuxBaseStationDevices::RestartDevices(std::uint16_t vendorId, std::uint16_t productId) {
  RestartUsbDevices(vendorId, productId,
                    [this](int level, const std::string& line) { Log(level, line); });
}

void LinuxBaseStationDevices::Log(int level, const std::string& line) const {
  if (log_) log_(level, line);
}

}  // namespace Pellux
