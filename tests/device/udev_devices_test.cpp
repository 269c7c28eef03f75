// Discovery, hotplug and the USB power cycle in a fake sysfs and udev world (umockdev): a
// CP210x-like USB device with a tty below it, its properties and attributes, uevents, and the
// writes to "authorized". Runs under umockdev-wrapper (CTest does so).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/stored_station_settings.h"
#include "device/dsi_serial_tty_linux.h"
#include "device/udev_devices_linux.h"
#include "device/usb_text_rules.h"
#include "link/linux_base_station_devices.h"
#include "sim/memory_settings_store.h"
#include "tests/device/recording_receiver.h"
#include "tests/support/collected_lines.h"
#include "tests/support/fake_usb_world_linux.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

// Hotplug events as the monitor reports them, waitable.
class EventLog {
 public:
  UsbHotplugMonitor::Callback Sink() {
    return [this](const UsbHotplugMonitor::Event& event) {
      std::lock_guard guard(mutex_);
      events_.push_back(event);
      changed_.notify_all();
    };
  }
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return events_.size() >= count; });
  }
  std::vector<UsbHotplugMonitor::Event> Events() {
    std::lock_guard guard(mutex_);
    return events_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<UsbHotplugMonitor::Event> events_;
};

class UdevTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(world.Ready()); }

  using Stick = FakeUsbWorld::Stick;
  Stick AddStick(const std::string& bus, const std::string& usbName, const std::string& ttyName,
                 const char* vendor = "10c4", const char* product = "84c4",
                 const std::string& serialAttribute = "4021337",
                 const std::string& productText = "ANT USB Stick",
                 const std::string& serialProperty = "4021337", bool withNode = true) {
    return world.AddStick(
        bus, usbName, ttyName,
        {vendor, product, serialAttribute, productText, serialProperty, withNode});
  }
  std::string RealPath(const std::string& sysPath) { return world.RealPath(sysPath); }

  FakeUsbWorld world;
  UMockdevTestbed* testbed = world.Testbed();
  CollectedLines lines;
};

TEST_F(UdevTest, DescribesAStickByItsUsbDevice) {
  const Stick stick = AddStick("usb1", "1-1", "ttyUSB0");
  const std::vector<UsbSerialPort> ports = ListUsbSerialPorts(lines.Sink());
  ASSERT_EQ(ports.size(), 1u) << lines.Joined();
  EXPECT_EQ(ports[0].node, "/dev/ttyUSB0");
  EXPECT_EQ(ports[0].vendorId, 0x10C4);
  EXPECT_EQ(ports[0].productId, 0x84C4);
  EXPECT_EQ(ports[0].serial, "4021337");
  EXPECT_EQ(ports[0].product, "ANT USB Stick");
  EXPECT_EQ(ports[0].ttySysPath, stick.tty);
  EXPECT_EQ(ports[0].usbSysPath, stick.usb);
}

TEST_F(UdevTest, ListsCandidatesInSysfsOrderAndNothingElse) {
  // Added out of order.
  AddStick("usb2", "2-1", "ttyUSB1", "0fcf", "1008", "77", "ANT USB-m Stick", "");
  AddStick("usb1", "1-3", "ttyUSB0");
  // Not candidates: a tty without a USB parent, ids that are not four hex digits, a tty
  // without a node.
  g_free(umockdev_testbed_add_device(testbed, "tty", "ttyS0", nullptr, nullptr, "DEVNAME",
                                     "/dev/ttyS0", nullptr));
  AddStick("usb3", "3-1", "ttyUSB2", "zz10", "84c4");
  AddStick("usb4", "4-1", "ttyUSB3", "10c4", "84c45");
  const std::string bus = TakeText(umockdev_testbed_add_device(
      testbed, "usb", "usb5", nullptr, nullptr, "DEVTYPE", "usb_device", nullptr));
  const std::string usb = TakeText(
      umockdev_testbed_add_device(testbed, "usb", "5-1", bus.c_str(), "idVendor", "10c4",
                                  "idProduct", "84c4", nullptr, "DEVTYPE", "usb_device", nullptr));
  g_free(umockdev_testbed_add_device(testbed, "tty", "ttyUSB4", usb.c_str(), nullptr, nullptr));

  const std::vector<UsbSerialPort> ports = ListUsbSerialPorts(lines.Sink());
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].node, "/dev/ttyUSB0");
  EXPECT_EQ(ports[1].node, "/dev/ttyUSB1");
  // Without ID_SERIAL_SHORT the USB device's serial attribute serves.
  EXPECT_EQ(ports[1].serial, "77");
  EXPECT_EQ(ports[1].vendorId, 0x0FCF);
  EXPECT_EQ(ports[1].product, "ANT USB-m Stick");
  EXPECT_EQ(ListUsbSerialPorts(lines.Sink()), ports);  // the same again
}

TEST_F(UdevTest, HostileDeviceTextsAreKeptSafe) {
  const Stick empty = AddStick("usb1", "1-1", "ttyUSB0", "10c4", "84c4", "", "", "");
  const Stick longOne =
      AddStick("usb2", "2-1", "ttyUSB1", "10c4", "84c4", "ABCDEF", std::string(3000, 'P'), "");
  const Stick binary = AddStick("usb3", "3-1", "ttyUSB2", "10c4", "84c4", "x", "x", "");
  std::array<guint8, 9> bytes{'S', 0xFF, 0xFE, '\n', 0x1B, '[', '2', 'J', 0xC3};
  umockdev_testbed_set_attribute_binary(testbed, binary.usb.c_str(), "product", bytes.data(),
                                        static_cast<gint>(bytes.size()));
  umockdev_testbed_set_attribute_binary(testbed, binary.usb.c_str(), "serial", bytes.data(),
                                        static_cast<gint>(bytes.size()));

  const std::vector<UsbSerialPort> ports = ListUsbSerialPorts(lines.Sink());
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].serial, "");
  EXPECT_EQ(ports[0].product, "");
  EXPECT_EQ(ports[1].serial, "ABCDEF");
  EXPECT_EQ(ports[1].product.size(), kMaxDeviceTextBytes);
  // Bytes that are not UTF-8, the line end, the escape and the cut-off sequence: each a '?'.
  EXPECT_EQ(ports[2].product, "S????[2J?");
  EXPECT_EQ(ports[2].serial, ports[2].product);

  // A serial text without digits stands for serial number 0, and is still the candidate's text.
  MemorySettingsStore store;
  StoredStationSettings stationSettings(store);
  LinuxBaseStationDevices devices(stationSettings, lines.Sink());
  const std::vector<BaseStationCandidate> candidates = devices.Candidates();
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[1].serial, "ABCDEF");
  EXPECT_EQ(LeadingDecimalNumber(candidates[1].serial), 0u);
}

TEST_F(UdevTest, TheUploaderListsTheStickAndTheSettingOverridesTheList) {
  AddStick("usb1", "1-1", "ttyUSB0");
  AddStick("usb2", "2-1", "ttyUSB1", "0fcf", "1008", "99", "ANT USB-m Stick", "");
  MemorySettingsStore store;
  StoredStationSettings stationSettings(store);
  LinuxBaseStationDevices devices(stationSettings, lines.Sink());
  // A fresh store shows the setting, empty.
  EXPECT_EQ(store.ReadText("Tracker", "SerialPort"), std::optional<std::string>(""));
  std::vector<BaseStationCandidate> candidates = devices.Candidates();
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].vendorId, 0x10C4);
  EXPECT_EQ(candidates[0].serial, "4021337");
  EXPECT_EQ(candidates[1].productId, 0x1008);

  // The second stick named by the setting: the one candidate, with the engine's ids and udev's
  // serial for it.
  store.WriteText("Tracker", "SerialPort", "/dev/ttyUSB1");
  store.WriteNumber("Tracker", "VID", 0x0FCF);
  store.WriteNumber("Tracker", "PID", 0x1009);
  candidates = devices.Candidates();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].vendorId, 0x0FCF);
  EXPECT_EQ(candidates[0].productId, 0x1009);
  EXPECT_EQ(candidates[0].serial, "99");
  EXPECT_EQ(devices.Ports()[0].node, "/dev/ttyUSB1");
  EXPECT_TRUE(lines.Has({"SerialPort names '/dev/ttyUSB1'"})) << lines.Joined();
}

TEST_F(UdevTest, AFakePortThatRefusesTheLineSettingsIsNotOpened) {
  AddStick("usb1", "1-1", "ttyUSB0");
  MemorySettingsStore store;
  StoredStationSettings stationSettings(store);
  LinuxBaseStationDevices devices(stationSettings, lines.Sink());
  const std::shared_ptr<DSISerial> transport = devices.CreateTransport();
  RecordingReceiver receiver;
  transport->SetCallback(&receiver);
  ASSERT_TRUE(transport->Init(50000, 0));
  EXPECT_FALSE(transport->Open());
  EXPECT_TRUE(lines.Has({"(/dev/ttyUSB0) failed"})) << lines.Joined();
  transport->Close(false);
}

TEST_F(UdevTest, APortThatVanishesBetweenListingAndOpeningIsReported) {
  const Stick stick = AddStick("usb1", "1-1", "ttyUSB0");
  const std::vector<UsbSerialPort> listed = ListUsbSerialPorts(lines.Sink());
  ASSERT_EQ(listed.size(), 1u);
  umockdev_testbed_remove_device(testbed, stick.tty.c_str());
  DSISerialTTY transport([listed] { return listed; }, lines.Sink());
  RecordingReceiver receiver;
  transport.SetCallback(&receiver);
  ASSERT_TRUE(transport.Init(50000, 0));
  EXPECT_FALSE(transport.Open());
  EXPECT_TRUE(lines.Has({"open(/dev/ttyUSB0) failed", "ENOENT"})) << lines.Joined();
  EXPECT_TRUE(ListUsbSerialPorts(lines.Sink()).empty());
}

TEST_F(UdevTest, TheMonitorReportsArrivalAndRemovalWithIdsAndSerial) {
  const Stick first = AddStick("usb1", "1-1", "ttyUSB0");
  EventLog events;
  UsbHotplugMonitor monitor(events.Sink(), lines.Sink());
  ASSERT_TRUE(monitor.Start()) << lines.Joined();

  const Stick second =
      AddStick("usb2", "2-1", "ttyUSB1", "0fcf", "1008", "", "ANT USB-m Stick", "5551212");
  ASSERT_TRUE(events.WaitFor(1, 5s)) << lines.Joined();
  // The same arrival told again is no new arrival.
  umockdev_testbed_uevent(testbed, second.tty.c_str(), "add");
  // The stick that was there at the start goes: its tty's event, then its USB device's.
  umockdev_testbed_uevent(testbed, first.tty.c_str(), "remove");
  umockdev_testbed_uevent(testbed, first.usb.c_str(), "remove");
  ASSERT_TRUE(events.WaitFor(2, 5s)) << lines.Joined();
  // The new one goes, and only its USB device's event is seen.
  umockdev_testbed_uevent(testbed, second.usb.c_str(), "remove");
  ASSERT_TRUE(events.WaitFor(3, 5s)) << lines.Joined();
  std::this_thread::sleep_for(200ms);
  monitor.Stop();

  const std::vector<UsbHotplugMonitor::Event> seen = events.Events();
  ASSERT_EQ(seen.size(), 3u) << lines.Joined();
  using Kind = UsbHotplugMonitor::Event::Kind;
  EXPECT_EQ(seen[0].kind, Kind::Arrived);
  EXPECT_EQ(seen[0].port.vendorId, 0x0FCF);
  EXPECT_EQ(seen[0].port.productId, 0x1008);
  EXPECT_EQ(seen[0].port.serial, "5551212");
  EXPECT_EQ(seen[0].port.node, "/dev/ttyUSB1");
  EXPECT_EQ(seen[1].kind, Kind::Removed);
  EXPECT_EQ(seen[1].port.vendorId, 0x10C4);
  EXPECT_EQ(seen[1].port.serial, "4021337");
  EXPECT_EQ(seen[2].kind, Kind::Removed);
  EXPECT_EQ(seen[2].port.serial, "5551212");
  EXPECT_TRUE(lines.Has({"/dev/ttyUSB1 arrived [VID: 0x0fcf, PID: 0x1008, SERIAL: 5551212]"}))
      << lines.Joined();
}

TEST_F(UdevTest, AnUnknownTtyLeavingIsReportedFromItsOwnEvent) {
  // A tty the monitor could not describe when it started (it had no node yet).
  const Stick stick =
      AddStick("usb1", "1-1", "ttyUSB0", "10c4", "84c4", "", "", "4021337", /*withNode=*/false);
  EventLog events;
  UsbHotplugMonitor monitor(events.Sink(), lines.Sink());
  ASSERT_TRUE(monitor.Start()) << lines.Joined();
  umockdev_testbed_uevent(testbed, stick.tty.c_str(), "remove");
  ASSERT_TRUE(events.WaitFor(1, 5s)) << lines.Joined();
  monitor.Stop();
  const auto seen = events.Events();
  EXPECT_EQ(seen[0].kind, UsbHotplugMonitor::Event::Kind::Removed);
  EXPECT_EQ(seen[0].port.vendorId, 0x10C4);
  EXPECT_EQ(seen[0].port.productId, 0x84C4);
  EXPECT_EQ(seen[0].port.serial, "4021337");
}

TEST_F(UdevTest, StoppingTheMonitorIsImmediateAndRepeatable) {
  EventLog events;
  UsbHotplugMonitor monitor(events.Sink(), lines.Sink());
  monitor.Stop();  // never started
  ASSERT_TRUE(monitor.Start());
  const auto start = std::chrono::steady_clock::now();
  monitor.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
  monitor.Stop();
  ASSERT_TRUE(monitor.Start());
  AddStick("usb1", "1-1", "ttyUSB0");
  EXPECT_TRUE(events.WaitFor(1, 5s));
}

TEST_F(UdevTest, TheResetWritesZeroThenOneToAuthorized) {
  const Stick stick = AddStick("usb1", "1-1", "ttyUSB0");
  const Stick other = AddStick("usb2", "2-1", "ttyUSB1", "0fcf", "1008");
  AttributeWrites authorized(RealPath(stick.usb) + "/authorized");
  ASSERT_TRUE(authorized.Ok());
  EXPECT_EQ(RestartUsbDevices(0x10C4, 0x84C4, lines.Sink()), 1) << lines.Joined();
  EXPECT_EQ(authorized.Written(), "01");
  EXPECT_TRUE(lines.Has({"Restarted USB device 10c4:84c4 at " + stick.usb, "authorized 0, then 1"}))
      << lines.Joined();
  // The other device was left alone.
  std::array<char, 8> value{};
  const int fd = ::open((RealPath(other.usb) + "/authorized").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::read(fd, value.data(), value.size()), 1);
  ::close(fd);
  EXPECT_EQ(value[0], '1');
}

TEST_F(UdevTest, AResetThatSysfsRefusesFallsBackToTheUsbNodeAndSaysWhy) {
  const Stick stick = AddStick("usb1", "1-1", "ttyUSB0");
  // An attribute that cannot be written.
  const std::string attribute = RealPath(stick.usb) + "/authorized";
  ::unlink(attribute.c_str());
  ASSERT_EQ(::mkdir(attribute.c_str(), 0755), 0);
  EXPECT_EQ(RestartUsbDevices(0x10C4, 0x84C4, lines.Sink()), 0);
  EXPECT_TRUE(lines.Has(
      {"write 0(" + stick.usb + "/authorized) failed", "EISDIR", "trying USBDEVFS_RESET"}))
      << lines.Joined();
  // The fake node takes no USB ioctl: that failure is told too.
  EXPECT_TRUE(lines.Has({"/dev/bus/usb/001/002) failed"})) << lines.Joined();
}

TEST_F(UdevTest, ResettingWhatIsNotThereSaysSo) {
  AddStick("usb1", "1-1", "ttyUSB0");
  EXPECT_EQ(RestartUsbDevices(0x0FCF, 0x1004, lines.Sink()), 0);
  EXPECT_TRUE(lines.Has({"No USB device 0fcf:1004 is attached"})) << lines.Joined();

  MemorySettingsStore store;
  StoredStationSettings stationSettings(store);
  LinuxBaseStationDevices devices(stationSettings, lines.Sink());
  devices.RestartDevices(0x0FCF, 0x1004);
  EXPECT_EQ(lines.Lines().size(), 2u) << lines.Joined();
}

}  // namespace
}  // namespace Pellux
