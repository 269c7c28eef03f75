// The doctor's udev probe in umockdev's fake sysfs and udev (the program runs under
// umockdev-wrapper): base station sticks with their interface, its driver link and their tty's
// properties, and USB devices of other ids beside them.

#include <gtest/gtest.h>
#include <umockdev.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/fake_usb_world_linux.h"
#include "tools/pelluxctl/doctor/station_checks.h"
#include "tools/pelluxctl/doctor/station_probe.h"

namespace Pellux {
namespace {

class DoctorUdev : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(world.Ready()); }

  // Binds `driver` to the stick's interface, as the kernel's "driver" link says.
  void Bind(const FakeUsbWorld::Stick& stick, const std::string& usbName, const char* driver) {
    const std::string drivers = world.RealPath("/sys/bus/usb/drivers/") + driver;
    std::filesystem::create_directories(drivers);
    const std::string link = world.RealPath(stick.usb + "/" + usbName + ":1.0") + "/driver";
    ASSERT_EQ(::symlink(drivers.c_str(), link.c_str()), 0) << link;
  }

  FakeUsbWorld world;
};

TEST_F(DoctorUdev, ListsTheStationsInterfacesDriversAndTtys) {
  const auto bound = world.AddStick("usb1", "1-1", "ttyUSB0");
  Bind(bound, "1-1", "cp210x");
  umockdev_testbed_set_property(world.Testbed(), bound.tty.c_str(), "ID_MM_DEVICE_IGNORE", "1");
  // A stick whose interface has no driver has no tty either.
  const auto unbound = world.AddStick("usb2", "2-1", "");
  TakeText(umockdev_testbed_add_device(world.Testbed(), "usb", "2-1:1.0", unbound.usb.c_str(),
                                       nullptr, "DEVTYPE", "usb_interface", nullptr));
  FakeUsbWorld::StickTexts other;
  other.vendor = "0403";
  other.product = "6001";
  world.AddStick("usb3", "3-1", "ttyUSB1", other);

  const auto probe = StationProbe::CreateForPlatform();
  const StationListing listing = probe->Ports(0x10c4, 0x84c4);
  ASSERT_TRUE(listing.listed) << listing.error;
  ASSERT_EQ(listing.ports.size(), 1U);
  EXPECT_EQ(listing.ports[0].node, "/dev/ttyUSB0");
  EXPECT_EQ(listing.ports[0].ttySysPath, bound.tty);
  EXPECT_EQ(listing.ports[0].modemManagerIgnore, std::optional<std::string>("1"));
  ASSERT_EQ(listing.interfaces.size(), 2U);
  EXPECT_EQ(listing.interfaces[0].sysPath, bound.usb + "/1-1:1.0");
  EXPECT_EQ(listing.interfaces[0].driver, "cp210x");
  EXPECT_EQ(listing.interfaces[1].sysPath, unbound.usb + "/2-1:1.0");
  EXPECT_EQ(listing.interfaces[1].driver, "");
  const DoctorCheck unboundDriver = CheckStationDriver(DoctorSettings(), listing);
  EXPECT_EQ(unboundDriver.status, DoctorStatus::kFail);
  EXPECT_EQ(unboundDriver.found,
            "no driver is bound to the base station's interface " + unbound.usb + "/2-1:1.0");

  const StationListing others = probe->Ports(0x0403, 0x6001);
  ASSERT_TRUE(others.listed);
  ASSERT_EQ(others.ports.size(), 1U);
  EXPECT_EQ(others.ports[0].node, "/dev/ttyUSB1");
  EXPECT_FALSE(others.ports[0].modemManagerIgnore.has_value());
  ASSERT_EQ(others.interfaces.size(), 1U);
  EXPECT_EQ(others.interfaces[0].driver, "");
  DoctorSettings settings;
  settings.vendorId = 0x0403;
  settings.productId = 0x6001;
  const DoctorCheck driver = CheckStationDriver(settings, others);
  EXPECT_EQ(driver.status, DoctorStatus::kFail) << driver.found;
  EXPECT_NE(driver.found.find("no driver is bound"), std::string::npos) << driver.found;

  EXPECT_TRUE(probe->Ports(0x1234, 0x5678).ports.empty());
}

}  // namespace
}  // namespace Pellux
