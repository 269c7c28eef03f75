#include "link/linux_base_station_devices.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/stored_station_settings.h"
#include "sim/memory_settings_store.h"
#include "tests/support/collected_lines.h"

namespace Pellux {
namespace {

UsbSerialPort Port(const std::string& node, std::uint16_t vendor, std::uint16_t product,
                   const std::string& serial) {
  UsbSerialPort port;
  port.node = node;
  port.vendorId = vendor;
  port.productId = product;
  port.serial = serial;
  port.product = "ANT USB Stick";
  return port;
}

class LinuxDevicesTest : public ::testing::Test {
 protected:
  // The list as the daemon makes it: over the store's settings, with a reader of its own.
  LinuxBaseStationDevices Make() {
    return {readers.emplace_back(store), lines.Sink(), [this] { return discovered; }};
  }

  MemorySettingsStore store;
  std::deque<StoredStationSettings> readers;
  CollectedLines lines;
  std::vector<UsbSerialPort> discovered{Port("/dev/ttyUSB0", 0x10C4, 0x84C4, "4021337"),
                                        Port("/dev/ttyUSB1", 0x0FCF, 0x1008, "77")};
};

TEST_F(LinuxDevicesTest, WithoutTheSettingTheCandidatesAreDiscoverysInItsOrder) {
  LinuxBaseStationDevices devices = Make();
  EXPECT_EQ(store.ReadText("Tracker", "SerialPort"), std::optional<std::string>(""));
  const std::vector<BaseStationCandidate> candidates = devices.Candidates();
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].serial, "4021337");
  EXPECT_EQ(candidates[1].vendorId, 0x0FCF);
  EXPECT_EQ(devices.Ports(), discovered);
  EXPECT_NE(devices.CreateTransport(), nullptr);
}

TEST_F(LinuxDevicesTest, TheSettingNamesTheOneStationWithTheEnginesIds) {
  LinuxBaseStationDevices devices = Make();
  store.WriteText("Tracker", "SerialPort", "/dev/pts/7");
  // No ids stored yet: the engine's defaults.
  std::vector<BaseStationCandidate> candidates = devices.Candidates();
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].vendorId, 0x10C4);
  EXPECT_EQ(candidates[0].productId, 0x84C4);
  EXPECT_EQ(candidates[0].serial, "");
  EXPECT_EQ(devices.Ports()[0].node, "/dev/pts/7");

  store.WriteNumber("Tracker", "VID", 0x0FCF);
  store.WriteNumber("Tracker", "PID", 0x70000);  // not a USB id: the default stays
  candidates = devices.Candidates();
  EXPECT_EQ(candidates[0].vendorId, 0x0FCF);
  EXPECT_EQ(candidates[0].productId, 0x84C4);

  // Emptied again: discovery is back.
  store.WriteText("Tracker", "SerialPort", "");
  EXPECT_EQ(devices.Candidates().size(), 2u);
  EXPECT_TRUE(lines.Has({"SerialPort names '/dev/pts/7'"})) << lines.Joined();
  EXPECT_TRUE(lines.Has({"SerialPort is empty"})) << lines.Joined();
}

TEST_F(LinuxDevicesTest, ASettingThatNamesADiscoveredPortTakesItsTexts) {
  LinuxBaseStationDevices devices = Make();
  // Another name of a discovered node (one that exists, so that both names resolve alike).
  discovered[1].node = "/dev/null";
  store.WriteText("Tracker", "SerialPort", "/dev/../dev/null");
  const std::vector<UsbSerialPort> ports = devices.Ports();
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].node, "/dev/../dev/null");
  EXPECT_EQ(ports[0].serial, "77");
}

TEST_F(LinuxDevicesTest, AStoredSettingIsNeverOverwritten) {
  store.WriteText("Tracker", "SerialPort", "/dev/ttyACM0");
  { LinuxBaseStationDevices devices = Make(); }
  EXPECT_EQ(store.ReadText("Tracker", "SerialPort"), std::optional<std::string>("/dev/ttyACM0"));
  // Of the wrong type: left for the administrator to see, and read as empty.
  store.WriteNumber("Tracker", "SerialPort", 5);
  LinuxBaseStationDevices devices = Make();
  EXPECT_EQ(store.ReadNumber("Tracker", "SerialPort"), std::optional<std::uint32_t>(5));
  EXPECT_EQ(devices.Candidates().size(), 2u);
}

}  // namespace
}  // namespace Pellux
