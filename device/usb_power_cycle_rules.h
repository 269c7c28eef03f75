#pragma once

#include <optional>
#include <string>

namespace Pellux {

// Which USB device a power cycle (sysfs "authorized" 0 then 1, or a USB reset) may touch. The
// facts come from udev and sysfs, which a user who plugs in a device partly chooses: each is
// compared exactly, and a fact that cannot be read counts against the cycle.

// The udev property that the installed rule (60-pellux.rules) sets to "1" on the USB device of a
// base station.
inline constexpr const char* kBaseStationProperty = "PELLUX_BASE_STATION";

// What udev tells of one USB device (devtype usb_device); nothing where it had no value.
struct UsbDeviceFacts {
  bool hasUsbParent = false;                   // it hangs on a hub, not on a host controller
  std::optional<std::string> deviceNumber;     // sysfs "devnum"
  std::optional<std::string> deviceClass;      // sysfs "bDeviceClass", two hexadecimal digits
  std::optional<std::string> baseStationMark;  // the udev property kBaseStationProperty
};

enum class PowerCycleVerdict {
  Allowed,
  RootHub,         // devnum 1, or no USB parent: everything on its bus would go with it
  Hub,             // class 09: every device behind it would go with it
  Unknown,         // its device number or class cannot be read
  NotBaseStation,  // only base stations may be cycled, and udev marks it as none
};

// Root hubs and hubs are never cycled. With `baseStationsOnly`, only a device whose mark is
// exactly "1" is.
PowerCycleVerdict JudgePowerCycle(const UsbDeviceFacts& facts, bool baseStationsOnly);

// The verdict in words, for the line that tells why a device was left alone ("a root hub").
const char* PowerCycleVerdictText(PowerCycleVerdict verdict);

}  // namespace Pellux
