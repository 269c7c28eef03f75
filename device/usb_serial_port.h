#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Pellux {

// One serial port of a USB bridge that may be a base station, as the platform's discovery
// describes it. Texts come from the device and are cleaned (CleanDeviceText) before they get
// here.
struct UsbSerialPort {
  // The device node to open, /dev/ttyUSB0 for example.
  std::string node;
  // The tty's and its USB device's places in sysfs (empty when not known); ports are listed in
  // the order of the first.
  std::string ttySysPath;
  std::string usbSysPath;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string serial;
  std::string product;

  bool operator==(const UsbSerialPort&) const = default;
};

// Lists the ports in a stable order; a port's position is its device number.
using UsbSerialPortLister = std::function<std::vector<UsbSerialPort>()>;

// Where a device layer's log lines go: a level of base/log_level.h and the line. Called from any
// of the layer's threads; must be thread-safe. May be empty.
using DeviceLog = std::function<void(int level, const std::string& line)>;

// The longest device text kept, in bytes: the bridge library's text fields hold 256 with the
// terminator.
inline constexpr std::size_t kMaxDeviceTextBytes = 255;

// A text read from a device (serial, product), made safe to keep, log and compare: at most
// kMaxDeviceTextBytes bytes of well-formed UTF-8, every control character and every byte that is
// not part of a well-formed sequence replaced by '?', never cutting a character in two.
std::string CleanDeviceText(std::string_view raw);

}  // namespace Pellux
