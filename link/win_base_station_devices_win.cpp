#include "link/win_base_station_devices_win.h"

#include <array>

#include "device/bridge_library_check_win.h"
#include "device/device_restart_win.h"
#include "device/dsi_serial_si_win.h"
#include "device/usb_device_win.h"

namespace Pellux {

WinBaseStationDevices::WinBaseStationDevices(Clock& clock) : clock_(clock) {}

std::vector<BaseStationCandidate> WinBaseStationDevices::Candidates() {
  const USBDeviceList<USBDevice> devices = GetAllDevices();
  std::vector<BaseStationCandidate> candidates;
  candidates.reserve(devices.GetSize());
  for (std::size_t i = 0; i < devices.GetSize(); ++i) {
    const USBDevice& device = devices[i];
    std::array<char, 256> product{};
    const bool named = device.GetProductDescription(product.data(), product.size());
    candidates.push_back(
        {device.GetVid(), device.GetPid(), device.SerialText(), named ? product.data() : ""});
  }
  return candidates;
}

std::shared_ptr<DSISerial> WinBaseStationDevices::CreateTransport() {
  return std::make_shared<DSISerialSI>(clock_);
}

void WinBaseStationDevices::RestartDevices(std::uint16_t vendorId, std::uint16_t productId) {
  RestartUsbDevices(vendorId, productId);
}

std::vector<std::string> WinBaseStationDevices::Unavailable() {
  return MissingBridgeLibraries();
}

}  // namespace Pellux
