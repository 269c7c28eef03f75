#include "device/usb_serial_port.h"

#include <gtest/gtest.h>

#include <string>

#include "device/usb_text_rules.h"

namespace Pellux {
namespace {

TEST(DeviceTextTest, KeepsPlainAndUnicodeTexts) {
  EXPECT_EQ(CleanDeviceText("ANT USB Stick"), "ANT USB Stick");
  EXPECT_EQ(CleanDeviceText(""), "");
  EXPECT_EQ(CleanDeviceText("Dynastream \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            "Dynastream \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(DeviceTextTest, ReplacesWhatIsNotWellFormedUtf8OrAControl) {
  EXPECT_EQ(CleanDeviceText("A\xFF"
                            "B"),
            "A?B");
  EXPECT_EQ(CleanDeviceText("\xC3"), "?");                 // cut short
  EXPECT_EQ(CleanDeviceText("\xC0\xAF"), "??");            // overlong '/'
  EXPECT_EQ(CleanDeviceText("\xED\xA0\x80"), "???");       // a surrogate
  EXPECT_EQ(CleanDeviceText("\xF4\x90\x80\x80"), "????");  // past U+10FFFF
  EXPECT_EQ(CleanDeviceText(std::string("a\0b\n\x1B[2J\x7F", 9)), "a?b??[2J?");
}

TEST(DeviceTextTest, CutsAnOverlongTextBetweenCharacters) {
  EXPECT_EQ(CleanDeviceText(std::string(10000, 'x')), std::string(kMaxDeviceTextBytes, 'x'));
  std::string euros;
  for (int i = 0; i < 100; ++i) euros += "\xE2\x82\xAC";
  const std::string clean = CleanDeviceText(euros);
  EXPECT_EQ(clean.size(), 255u);  // 85 whole characters
  EXPECT_EQ(clean, euros.substr(0, 255));
  const std::string shifted = CleanDeviceText("x" + euros);
  EXPECT_EQ(shifted.size(), 253u);  // the 85th character would not fit whole
}

TEST(SerialNumberTest, ReadsTheLeadingDigits) {
  EXPECT_EQ(LeadingDecimalNumber("4021337"), 4021337u);
  EXPECT_EQ(LeadingDecimalNumber("0012345abc"), 12345u);
  EXPECT_EQ(LeadingDecimalNumber("ABC123"), 0u);
  EXPECT_EQ(LeadingDecimalNumber(""), 0u);
  EXPECT_EQ(LeadingDecimalNumber("-5"), 0u);
  EXPECT_EQ(LeadingDecimalNumber("4294967295"), 4294967295u);
  EXPECT_EQ(LeadingDecimalNumber("4294967296"), 4294967295u);
  EXPECT_EQ(LeadingDecimalNumber(std::string(300, '9')), 4294967295u);
}

TEST(BaseStationProductTest, ComparesTheFirstThirteenCharacters) {
  EXPECT_TRUE(IsAntUsbStickProduct("ANT USB Stick"));
  EXPECT_TRUE(IsAntUsbStickProduct("ANT USB Stick 2"));
  EXPECT_TRUE(IsAntUsbStickProduct("ANT"));
  EXPECT_TRUE(IsAntUsbStickProduct(""));
  EXPECT_FALSE(IsAntUsbStickProduct("ANT USB-m Stick"));
  EXPECT_FALSE(IsAntUsbStickProduct("CP2102 USB to UART Bridge Controller"));
  EXPECT_FALSE(IsAntUsbStickProduct("ant usb stick"));
}

}  // namespace
}  // namespace Pellux
