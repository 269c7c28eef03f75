// The station probe of Linux: libudev's view of the USB interfaces and ttys below the USB
// devices with the base station's ids.

#include <libudev.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "base/system_error.h"
#include "tools/pelluxctl/doctor/station_probe.h"

namespace Pellux {
namespace {

struct UdevDeleter {
  void operator()(udev* handle) const { udev_unref(handle); }
  void operator()(udev_enumerate* handle) const { udev_enumerate_unref(handle); }
  void operator()(udev_device* handle) const { udev_device_unref(handle); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* value) {
  return value == nullptr ? std::string() : std::string(value);
}

std::string Hex4(std::uint16_t value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04x", static_cast<unsigned>(value));
  return text.data();
}

// Whether `device` hangs below a USB device with the ids (sysfs writes them as four
// lower-case hexadecimal digits).
bool BelowStation(udev_device* device, const std::string& vendor, const std::string& product) {
  udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
  if (usb == nullptr) return false;
  return Text(udev_device_get_sysattr_value(usb, "idVendor")) == vendor &&
         Text(udev_device_get_sysattr_value(usb, "idProduct")) == product;
}

class UdevStationProbe final : public StationProbe {
 public:
  StationListing Ports(std::uint16_t vendorId, std::uint16_t productId) override {
    StationListing listing;
    const UdevPtr<udev> context(udev_new());
    if (!context) {
      listing.error = SystemCallFailure("udev_new", "", LastSystemError());
      return listing;
    }
    const std::string vendor = Hex4(vendorId);
    const std::string product = Hex4(productId);
    for (const char* subsystem : {"usb", "tty"}) {
      const UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
      if (!enumerate) {
        listing.error = SystemCallFailure("udev_enumerate_new", "", LastSystemError());
        return listing;
      }
      int result = udev_enumerate_add_match_subsystem(enumerate.get(), subsystem);
      if (result >= 0) result = udev_enumerate_scan_devices(enumerate.get());
      if (result < 0) {
        listing.error = SystemCallFailure("udev_enumerate_scan_devices", subsystem,
                                          static_cast<unsigned long>(-result));
        return listing;
      }
      udev_list_entry* entry = nullptr;
      udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const UdevPtr<udev_device> device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        // Gone between the listing and now.
        if (!device || !BelowStation(device.get(), vendor, product)) continue;
        if (std::string(subsystem) == "tty") {
          StationPort port;
          port.node = Text(udev_device_get_devnode(device.get()));
          port.ttySysPath = Text(udev_device_get_syspath(device.get()));
          if (const char* ignore =
                  udev_device_get_property_value(device.get(), "ID_MM_DEVICE_IGNORE")) {
            port.modemManagerIgnore = ignore;
          }
          listing.ports.push_back(std::move(port));
        } else if (Text(udev_device_get_devtype(device.get())) == "usb_interface") {
          listing.interfaces.push_back({Text(udev_device_get_syspath(device.get())),
                                        Text(udev_device_get_driver(device.get()))});
        }
      }
    }
    std::ranges::sort(listing.ports, {}, &StationPort::ttySysPath);
    std::ranges::sort(listing.interfaces, {}, &StationInterface::sysPath);
    listing.listed = true;
    return listing;
  }
};

}  // namespace

std::unique_ptr<StationProbe> StationProbe::CreateForPlatform() {
  return std::make_unique<UdevStationProbe>();
}

}  // namespace Pellux
