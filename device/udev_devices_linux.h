#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/usb_serial_port.h"

struct udev;
struct udev_device;
struct udev_monitor;

namespace Pellux {

// Base station candidates through libudev: the tty devices whose USB parent (a usb_device) has a
// vendor and a product id. Serial text: the tty's ID_SERIAL_SHORT, else the USB device's
// "serial" attribute; product text: the USB device's "product" attribute, else ID_MODEL. Every
// text is cleaned (CleanDeviceText). A tty without a device node, or whose ids cannot be read
// as four hexadecimal digits, is no candidate.

// The candidates attached now, in the order of their tty's sysfs path (stable across listings
// while nothing is plugged or unplugged). Failures are logged; none makes the list fail.
std::vector<UsbSerialPort> ListUsbSerialPorts(const DeviceLog& log);

// A tty `device` as a candidate, or nothing when it is none.
std::optional<UsbSerialPort> DescribeUsbSerialPort(udev_device* device);

// What came of a power cycle of the USB devices with some ids.
struct UsbRestartOutcome {
  bool listed = true;  // false: udev could not list the USB devices (logged)
  int matching = 0;    // attached USB devices with the ids
  int refused = 0;     // of them, left alone by JudgePowerCycle (usb_power_cycle_rules.h)
  int restarted = 0;   // of them, power-cycled one way or the other
};

// Power-cycles every attached USB device with these ids that JudgePowerCycle allows (never a
// root hub or a hub; with `baseStationsOnly`, only what the installed udev rule marks as a base
// station), the Linux counterpart of disabling and enabling it on Windows: "0" and then "1"
// written to its sysfs "authorized" attribute (the kernel unbinds its drivers and enumerates it
// anew); when that cannot be done, a USBDEVFS_RESET on its /dev/bus/usb node. Each step, each
// device left alone and each failure (no permission, not found) is logged.
UsbRestartOutcome PowerCycleUsbDevices(std::uint16_t vendorId, std::uint16_t productId,
                                       bool baseStationsOnly, const DeviceLog& log);

// PowerCycleUsbDevices of any device with the ids (hubs aside); how many were restarted.
int RestartUsbDevices(std::uint16_t vendorId, std::uint16_t productId, const DeviceLog& log);

// Watches udev (netlink, subsystem tty, and usb for removals) for base station candidates that
// come and go, and reports each with its ids and serial on a thread of its own. A removal is
// recognised from the tty's own event, or from its USB device's when the tty's was lost; a
// candidate that was there at Start is known too, so that its removal carries its ids.
class UsbHotplugMonitor {
 public:
  struct Event {
    enum class Kind { Arrived, Removed };
    Kind kind = Kind::Arrived;
    UsbSerialPort port;
  };
  // Called on the monitor's thread, one event at a time.
  using Callback = std::function<void(const Event&)>;

  UsbHotplugMonitor(Callback callback, DeviceLog log);
  UsbHotplugMonitor(const UsbHotplugMonitor&) = delete;
  UsbHotplugMonitor& operator=(const UsbHotplugMonitor&) = delete;
  ~UsbHotplugMonitor();

  // Starts listening; false (logged) when udev cannot be watched. Events from before the call
  // are not reported; the candidates attached then are only noted.
  bool Start();
  // Stops the thread at once; no callback runs once this returns. Harmless when not started.
  void Stop();

 private:
  void Run();
  // What `device`'s event means, libudev's lock held.
  std::vector<Event> Handle(udev_device* device);
  void Report(const Event& event);
  void Log(int level, const std::string& line) const;

  const Callback callback_;
  const DeviceLog log_;
  std::mutex lifecycle_;
  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  int stop_ = -1;
  std::thread thread_;
  // The candidates known to be attached, by tty sysfs path (the monitor's thread only, once
  // started).
  std::map<std::string, UsbSerialPort> known_;
};

}  // namespace Pellux
