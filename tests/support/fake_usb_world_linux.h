#pragma once

// umockdev's fake sysfs and udev for the tests that run under umockdev-wrapper: base station
// sticks (a CP210x-like USB device, its interface and its tty) put in and taken out.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

namespace Pellux {

// The text umockdev hands over, freed.
inline std::string TakeText(gchar* text) {
  std::string copy = text == nullptr ? std::string() : std::string(text);
  g_free(text);
  return copy;
}

class FakeUsbWorld {
 public:
  // Fails the test when the program does not run under umockdev-wrapper
  // (umockdev_in_mock_environment() does not see the wrapper's bare library name).
  FakeUsbWorld() {
    const char* preload = std::getenv("LD_PRELOAD");
    const bool wrapped =
        preload != nullptr && std::string(preload).find("libumockdev-preload") != std::string::npos;
    EXPECT_TRUE(wrapped) << "this program fakes sysfs and udev: run it under umockdev-wrapper";
    if (wrapped) testbed_ = umockdev_testbed_new();
  }
  FakeUsbWorld(const FakeUsbWorld&) = delete;
  FakeUsbWorld& operator=(const FakeUsbWorld&) = delete;
  ~FakeUsbWorld() {
    if (testbed_ != nullptr) g_object_unref(testbed_);
  }

  [[nodiscard]] bool Ready() const { return testbed_ != nullptr; }
  [[nodiscard]] UMockdevTestbed* Testbed() const { return testbed_; }

  struct Stick {
    std::string usb;
    std::string tty;  // empty for a stick without one
  };
  struct StickTexts {
    const char* vendor = "10c4";
    const char* product = "84c4";
    std::string serialAttribute = "4021337";
    std::string productText = "ANT USB Stick";
    std::string serialProperty = "4021337";
    bool withNode = true;  // the tty has a device node /dev/<tty>
    // What the installed udev rule gives a base station's USB device (PELLUX_BASE_STATION=1);
    // nullptr leaves the property out.
    const char* baseStationMark = "1";
  };

  // A stick with the USB device `usbName` on its bus `bus`, and unless `ttyName` is empty its
  // interface and tty. Empty texts are left out. umockdev sends the "add" uevents itself.
  Stick AddStick(const std::string& bus, const std::string& usbName, const std::string& ttyName) {
    return AddStick(bus, usbName, ttyName, StickTexts{});
  }
  Stick AddStick(const std::string& bus, const std::string& usbName, const std::string& ttyName,
                 const StickTexts& texts) {
    const std::string busPath = TakeText(umockdev_testbed_add_device(
        testbed_, "usb", bus.c_str(), nullptr, nullptr, "DEVTYPE", "usb_device", nullptr));
    Stick stick;
    stick.usb = TakeText(umockdev_testbed_add_device(
        testbed_, "usb", usbName.c_str(), busPath.c_str(), "idVendor", texts.vendor, "idProduct",
        texts.product, "busnum", "1", "devnum", "2", "bDeviceClass", "00", "authorized", "1",
        nullptr, "DEVTYPE", "usb_device", "DEVNAME", "/dev/bus/usb/001/002",
        texts.baseStationMark != nullptr ? "PELLUX_BASE_STATION" : nullptr, texts.baseStationMark,
        nullptr));
    if (!texts.serialAttribute.empty()) {
      umockdev_testbed_set_attribute(testbed_, stick.usb.c_str(), "serial",
                                     texts.serialAttribute.c_str());
    }
    if (!texts.productText.empty()) {
      umockdev_testbed_set_attribute(testbed_, stick.usb.c_str(), "product",
                                     texts.productText.c_str());
    }
    if (ttyName.empty()) return stick;
    const std::string interface = TakeText(
        umockdev_testbed_add_device(testbed_, "usb", (usbName + ":1.0").c_str(), stick.usb.c_str(),
                                    nullptr, "DEVTYPE", "usb_interface", nullptr));
    const std::string node = "/dev/" + ttyName;
    // The properties come with the device, before its "add" uevent, as udev's rules give them.
    stick.tty = TakeText(umockdev_testbed_add_device(
        testbed_, "tty", ttyName.c_str(), interface.c_str(), nullptr, "ID_SERIAL_SHORT",
        texts.serialProperty.c_str(), "ID_VENDOR_ID", texts.vendor, "ID_MODEL_ID", texts.product,
        texts.withNode ? "DEVNAME" : nullptr, node.c_str(), nullptr));
    return stick;
  }

  // A USB device other than a stick, below `parent` (empty: at the top, as a root hub hangs on
  // its host controller), with its ids, device number, class and udev properties (name, value,
  // ...); attributes left empty are left out. Its sysfs path.
  std::string AddUsbDevice(const std::string& parent, const std::string& name, const char* vendor,
                           const char* product, const char* deviceNumber, const char* deviceClass,
                           const std::vector<const char*>& properties = {}) {
    const std::string path = TakeText(umockdev_testbed_add_device(
        testbed_, "usb", name.c_str(), parent.empty() ? nullptr : parent.c_str(), "idVendor",
        vendor, "idProduct", product, "busnum", "1", "authorized", "1", nullptr, "DEVTYPE",
        "usb_device", nullptr));
    if (*deviceNumber != '\0') {
      umockdev_testbed_set_attribute(testbed_, path.c_str(), "devnum", deviceNumber);
    }
    if (*deviceClass != '\0') {
      umockdev_testbed_set_attribute(testbed_, path.c_str(), "bDeviceClass", deviceClass);
    }
    for (std::size_t i = 0; i + 1 < properties.size(); i += 2) {
      umockdev_testbed_set_property(testbed_, path.c_str(), properties[i], properties[i + 1]);
    }
    return path;
  }

  // Takes the stick out, with the tty's and then the USB device's "remove" uevents.
  void Unplug(const Stick& stick) {
    if (!stick.tty.empty()) umockdev_testbed_uevent(testbed_, stick.tty.c_str(), "remove");
    umockdev_testbed_uevent(testbed_, stick.usb.c_str(), "remove");
  }

  // Where a fake sysfs path really is.
  [[nodiscard]] std::string RealPath(const std::string& sysPath) const {
    return TakeText(umockdev_testbed_get_root_dir(testbed_)) + sysPath;
  }

 private:
  UMockdevTestbed* testbed_ = nullptr;
};

// A sysfs attribute replaced by a FIFO, so that every byte written to it stays in order, "0"
// then "1" being "01"; a plain file would only keep the last. Held open for reading and
// writing, the FIFO never blocks its writer.
class AttributeWrites {
 public:
  explicit AttributeWrites(const std::string& path) {
    ::unlink(path.c_str());
    if (::mkfifo(path.c_str(), 0600) == 0) {
      fd_ = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
  }
  AttributeWrites(const AttributeWrites&) = delete;
  AttributeWrites& operator=(const AttributeWrites&) = delete;
  ~AttributeWrites() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] bool Ok() const { return fd_ >= 0; }
  // What was written since the last call.
  std::string Written() {
    std::string text;
    std::array<char, 64> chunk{};
    for (ssize_t got = 0; (got = ::read(fd_, chunk.data(), chunk.size())) > 0;) {
      text.append(chunk.data(), static_cast<std::size_t>(got));
    }
    return text;
  }

 private:
  int fd_ = -1;
};

}  // namespace Pellux
