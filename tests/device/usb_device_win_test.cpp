// The device lists over the stand-in libraries: describing a bridge device, the
// libusb listing and the list of base station candidates.

#include "device/usb_device_win.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/support/stand_in_bridge_win.h"

namespace Pellux {
namespace {

using json = nlohmann::json;

class UsbDeviceTest : public ::testing::Test {
 protected:
  void Bus(const json& busses, int findBusses = 1, int findDevices = 1) {
    bridge.Usb({{"command", "bus"},
                {"busses", busses},
                {"findBusses", findBusses},
                {"findDevices", findDevices}});
  }

  static json UsbDevice(int vendorId, int productId, const std::string& product,
                        const std::string& serial) {
    return {{"vid", vendorId}, {"pid", productId}, {"product", product}, {"serial", serial}};
  }

  StandInBridge bridge;
};

TEST_F(UsbDeviceTest, ABridgeDeviceIsDescribedByItsFourTexts) {
  bridge.Attach({{"vid", "0FCF"}, {"pid", "1008"}, {"serial", "4021337"}, {"product", "ANT"}});
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  ASSERT_EQ(devices.GetSize(), 1U);
  const USBDeviceSI& device = devices[0];
  EXPECT_EQ(device.GetDeviceNumber(), 0);
  EXPECT_EQ(device.GetVid(), 0x0FCF);
  EXPECT_EQ(device.GetPid(), 0x1008);
  EXPECT_EQ(device.GetSerialNumber(), 4021337U);
  EXPECT_TRUE(device.ProductTextRead());
  EXPECT_EQ(device.ProductText(), "ANT");
  EXPECT_EQ(device.GetDeviceType(), USBDevice::kBridgeDevice);
  std::array<char, 256> product{};
  EXPECT_TRUE(device.GetProductDescription(product.data(), product.size()));
  EXPECT_STREQ(product.data(), "ANT");
}

TEST_F(UsbDeviceTest, ASerialText10005TakesItsNumberFromByte56) {
  bridge.Attach({{"serial", "10005"}, {"serialWord56", 3900017}});
  bridge.Attach({{"serial", "10255"}, {"serialWord56", 3900017}});
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  ASSERT_EQ(devices.GetSize(), 2U);
  EXPECT_EQ(devices[0].GetSerialNumber(), 3900017U);
  EXPECT_EQ(devices[0].SerialText(), "10005");
  EXPECT_EQ(devices[1].GetSerialNumber(), 10255U);
}

TEST_F(UsbDeviceTest, GetSerialStringInto64BytesIsFalseButTheTextIsUsable) {
  bridge.Attach({{"serial", "4021337"}});
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  ASSERT_EQ(devices.GetSize(), 1U);
  std::array<char, 64> small{};
  EXPECT_FALSE(devices[0].GetSerialString(small.data(), small.size()));
  EXPECT_STREQ(small.data(), "4021337");
  std::array<char, 256> whole{};
  EXPECT_TRUE(devices[0].GetSerialString(whole.data(), whole.size()));
}

TEST_F(UsbDeviceTest, EachTextThatFailsLeavesItsPartEmptyAndTheOthersStand) {
  bridge.Attach({{"vid", "0FCF"}, {"pid", "1004"}, {"failOptions", {3, 1}}});
  bridge.Attach({{"serial", "123"}, {"failOptions", {4, 0}}});
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  ASSERT_EQ(devices.GetSize(), 2U);
  EXPECT_EQ(devices[0].GetVid(), 0);
  EXPECT_EQ(devices[0].GetPid(), 0x1004);
  EXPECT_FALSE(devices[0].ProductTextRead());
  EXPECT_EQ(devices[0].ProductText(), "");
  EXPECT_EQ(devices[0].GetSerialNumber(), 4021337U);
  EXPECT_EQ(devices[1].GetVid(), 0x10C4);
  EXPECT_EQ(devices[1].GetPid(), 0);
  EXPECT_EQ(devices[1].GetSerialNumber(), 0U);
  EXPECT_EQ(devices[1].SerialText(), "");
  EXPECT_TRUE(devices[1].ProductTextRead());
}

TEST_F(UsbDeviceTest, AnUnpluggedBridgeLeavesTheList) {
  bridge.Attach({{"serial", "1"}});
  bridge.Attach({{"serial", "2"}});
  bridge.Si({{"command", "unplug"}, {"device", 0}});
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  ASSERT_EQ(devices.GetSize(), 1U);
  EXPECT_EQ(devices[0].GetSerialNumber(), 2U);
  EXPECT_EQ(devices[0].GetDeviceNumber(), 0);
}

TEST_F(UsbDeviceTest, LibusbDevicesAreListedBusByBusWithTheirTwoTexts) {
  json first = json::array({UsbDevice(0x0FCF, 0x1004, "ANT USB-m Stick", "123abc"),
                            UsbDevice(0x10C4, 0xEA60, "CP2102", "")});
  json second = json::array({UsbDevice(0x1915, 0x0101, "nRF", "77")});
  second[0]["openFails"] = true;
  Bus(json::array({first, second}));
  const USBDeviceList<USBDeviceLibusb> devices = GetLibusbDeviceList();
  ASSERT_EQ(devices.GetSize(), 3U);
  EXPECT_EQ(devices[0].GetVid(), 0x0FCF);
  EXPECT_EQ(devices[0].GetPid(), 0x1004);
  EXPECT_EQ(devices[0].GetSerialNumber(), 123U);
  EXPECT_EQ(devices[0].SerialText(), "123abc");
  std::array<char, 256> product{};
  EXPECT_TRUE(devices[0].GetProductDescription(product.data(), product.size()));
  EXPECT_STREQ(product.data(), "ANT USB-m Stick");
  EXPECT_EQ(devices[0].GetDeviceType(), USBDevice::kLibusbDevice);
  EXPECT_NE(devices[0].Record(), nullptr);
  // A device that cannot be opened keeps its ids, with empty texts.
  EXPECT_EQ(devices[2].GetVid(), 0x1915);
  EXPECT_EQ(devices[2].SerialText(), "");
  EXPECT_EQ(devices[2].GetSerialNumber(), 0U);
  const json state = bridge.Usb({{"command", "state"}});
  EXPECT_EQ(state["opens"], state["closes"]);
}

TEST_F(UsbDeviceTest, AFailedBusOrDeviceSearchListsNothing) {
  Bus(json::array({json::array({UsbDevice(0x0FCF, 0x1004, "ANT", "1")})}), -1, 1);
  EXPECT_TRUE(GetLibusbDeviceList().Empty());
  Bus(json::array({json::array({UsbDevice(0x0FCF, 0x1004, "ANT", "1")})}), 1, -1);
  EXPECT_TRUE(GetLibusbDeviceList().Empty());
}

TEST_F(UsbDeviceTest, CandidatesAreReadableBridgesThenLibusbDevicesOfTheStationVendors) {
  bridge.Attach({{"serial", "10"}, {"product", "ANT USB Stick"}});
  bridge.Attach({{"serial", "11"}, {"failOptions", {1}}});
  bridge.Attach({{"serial", "12"}, {"product", "Some Other Bridge"}});
  Bus(json::array({json::array({UsbDevice(0x10C4, 0xEA60, "CP2102", "5"),
                                UsbDevice(0x1915, 0x0101, "nRF", "77")}),
                   json::array({UsbDevice(0x0FCF, 0x1004, "ANT USB-m Stick", "123")})}));
  const USBDeviceList<USBDevice> all = GetAllDevices();
  ASSERT_EQ(all.GetSize(), 4U);
  EXPECT_EQ(all[0].GetSerialNumber(), 10U);
  EXPECT_EQ(all[1].GetSerialNumber(), 12U);
  EXPECT_EQ(all[2].GetVid(), 0x1915);
  EXPECT_EQ(all[3].GetVid(), 0x0FCF);
  EXPECT_EQ(all[1].GetDeviceType(), USBDevice::kBridgeDevice);
  EXPECT_EQ(all[2].GetDeviceType(), USBDevice::kLibusbDevice);
}

TEST_F(UsbDeviceTest, RestartingADeviceAlwaysSaysYes) {
  bridge.Attach({{"vid", "0FCF"}, {"pid", "1004"}});
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  ASSERT_EQ(devices.GetSize(), 1U);
  // No such device is present under Wine: both passes find nothing to do.
  EXPECT_TRUE(devices[0].Restart());
}

}  // namespace
}  // namespace Pellux
