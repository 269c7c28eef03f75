#include "device/dsi_serial.h"

namespace Pellux {

bool DSISerial::GetDeviceUSBInfo(std::uint8_t /*deviceNumber*/, std::string& /*product*/,
                                 std::string& /*serial*/) {
  return false;
}

bool DSISerial::GetDevicePID(std::uint16_t& /*productId*/) {
  return false;
}

}  // namespace Pellux
