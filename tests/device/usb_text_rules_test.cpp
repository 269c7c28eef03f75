#include "device/usb_text_rules.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "base/wildcard.h"

namespace Pellux {
namespace {

UsbTextField SerialWithWord(const std::string& text, std::uint32_t word) {
  UsbTextField field = MakeTextField(text);
  for (std::size_t i = 0; i < 4; ++i) {
    field[56 + i] = static_cast<char>((word >> (8 * i)) & 0xFFU);
  }
  return field;
}

TEST(UsbTextRulesTest, HexIdsAreReadAsHexadecimalAndZeroWithoutDigits) {
  EXPECT_EQ(ParseHexId("0FCF"), 0x0FCF);
  EXPECT_EQ(ParseHexId("10c4"), 0x10C4);
  EXPECT_EQ(ParseHexId("0x84C4"), 0x84C4);
  EXPECT_EQ(ParseHexId(" 1004"), 0x1004);
  EXPECT_EQ(ParseHexId("1915zz"), 0x1915);
  EXPECT_EQ(ParseHexId(""), 0);
  EXPECT_EQ(ParseHexId("xyz"), 0);
  EXPECT_EQ(ParseHexId("0x"), 0);
  // A longer value keeps its low 16 bits.
  EXPECT_EQ(ParseHexId("12345"), 0x2345);
}

TEST(UsbTextRulesTest, SerialNumbersAreTheLeadingDigits) {
  EXPECT_EQ(LeadingDecimalNumber("4021337"), 4021337U);
  EXPECT_EQ(LeadingDecimalNumber("77abc"), 77U);
  EXPECT_EQ(LeadingDecimalNumber("abc77"), 0U);
  EXPECT_EQ(LeadingDecimalNumber(""), 0U);
  EXPECT_EQ(LeadingDecimalNumber("4294967295"), 4294967295U);
  EXPECT_EQ(LeadingDecimalNumber("99999999999"), 4294967295U);
}

TEST(UsbTextRulesTest, SerialTexts10001To10254TakeTheWordAtByte56) {
  EXPECT_EQ(BridgeSerialNumber(SerialWithWord("10005", 123456789)), 123456789U);
  EXPECT_EQ(BridgeSerialNumber(SerialWithWord("10001", 0xA1B2C3D4)), 0xA1B2C3D4U);
  EXPECT_EQ(BridgeSerialNumber(SerialWithWord("10254", 42)), 42U);
  // Just outside the range, and an ordinary serial: the text's own number.
  EXPECT_EQ(BridgeSerialNumber(SerialWithWord("10000", 42)), 10000U);
  EXPECT_EQ(BridgeSerialNumber(SerialWithWord("10255", 42)), 10255U);
  EXPECT_EQ(BridgeSerialNumber(SerialWithWord("4021337", 42)), 4021337U);
  EXPECT_EQ(BridgeSerialNumber(MakeTextField("")), 0U);
}

TEST(UsbTextRulesTest, ProductTextsAreComparedOverTheirFirst13Characters) {
  EXPECT_TRUE(IsAntUsbStickProduct("ANT USB Stick"));
  EXPECT_TRUE(IsAntUsbStickProduct("ANT"));
  EXPECT_TRUE(IsAntUsbStickProduct(""));
  EXPECT_TRUE(IsAntUsbStickProduct("ANT USB Stick 2"));
  EXPECT_TRUE(IsAntUsbStickProduct("ANT USB StickXYZ"));
  EXPECT_FALSE(IsAntUsbStickProduct("ANT USB Stack"));
  EXPECT_FALSE(IsAntUsbStickProduct("ant usb stick"));
  EXPECT_FALSE(IsAntUsbStickProduct("CP2102 USB to UART"));
  EXPECT_FALSE(IsAntUsbStickProduct("ANX"));
}

TEST(UsbTextRulesTest, ProductDescriptionIsCopiedWithItsTerminatorWhenItFits) {
  const UsbTextField field = MakeTextField("ANT USB Stick");
  std::array<char, 14> exact{};
  EXPECT_TRUE(CopyProductText(field, exact.data(), exact.size()));
  EXPECT_STREQ(exact.data(), "ANT USB Stick");
  std::array<char, 8> small{};
  EXPECT_FALSE(CopyProductText(field, small.data(), small.size()));
  EXPECT_STREQ(small.data(), "ANT USB");
  EXPECT_FALSE(CopyProductText(field, nullptr, 10));
}

TEST(UsbTextRulesTest, SerialStringInto64BytesIsFalseButUsableUpToItsTerminator) {
  const UsbTextField field = SerialWithWord("4021337", 7);
  std::array<char, 64> small{};
  EXPECT_FALSE(CopySerialField(field, small.data(), small.size()));
  EXPECT_STREQ(small.data(), "4021337");
  std::array<char, 256> whole{};
  EXPECT_TRUE(CopySerialField(field, whole.data(), whole.size()));
  // The whole field: the word past the terminator came too.
  EXPECT_EQ(whole[56], 7);
}

TEST(UsbTextRulesTest, TextFieldsAreCutTo255Characters) {
  const UsbTextField field = MakeTextField(std::string(300, 'a'));
  EXPECT_EQ(FieldText(field).size(), 255U);
  EXPECT_EQ(field.back(), '\0');
}

TEST(UsbTextRulesTest, UsbInstancePatternNamesBothIdsInUpperCaseHex) {
  EXPECT_EQ(UsbInstancePattern(0x0FCF, 0x1004), "@USB\\VID_0FCF&PID_1004\\*");
  EXPECT_EQ(UsbInstancePattern(0x10c4, 0x84c4), "@USB\\VID_10C4&PID_84C4\\*");
}

TEST(UsbTextRulesTest, StarsMatchAnyRunAndCaseIsIgnored) {
  EXPECT_TRUE(MatchesWildcard("USB\\VID_0FCF&PID_1004\\*", "USB\\VID_0FCF&PID_1004\\123",
                              WildcardQuestion::kItself));
  EXPECT_TRUE(MatchesWildcard("USB\\VID_0FCF&PID_1004\\*", "usb\\vid_0fcf&pid_1004\\5&2A",
                              WildcardQuestion::kItself));
  EXPECT_TRUE(MatchesWildcard("USB\\VID_0FCF&PID_1004\\*", "USB\\VID_0FCF&PID_1004\\",
                              WildcardQuestion::kItself));
  EXPECT_FALSE(MatchesWildcard("USB\\VID_0FCF&PID_1004\\*", "USB\\VID_0FCF&PID_1008\\123",
                               WildcardQuestion::kItself));
  EXPECT_FALSE(MatchesWildcard("USB\\VID_0FCF&PID_1004\\*", "USB\\VID_0FCF&PID_1004",
                               WildcardQuestion::kItself));
  EXPECT_TRUE(
      MatchesWildcard("*PID_1004*", "USB\\VID_0FCF&PID_1004\\1", WildcardQuestion::kItself));
  EXPECT_TRUE(MatchesWildcard("a*b*c", "aXXbYYbZc", WildcardQuestion::kItself));
  EXPECT_FALSE(MatchesWildcard("a*b*c", "aXXbYYbZ", WildcardQuestion::kItself));
  EXPECT_TRUE(MatchesWildcard("**", "", WildcardQuestion::kItself));
  EXPECT_FALSE(MatchesWildcard("", "x", WildcardQuestion::kItself));
  EXPECT_TRUE(MatchesWildcard("exact", "EXACT", WildcardQuestion::kItself));
}

TEST(UsbTextRulesTest, PatternsSelectByInstanceIdHardwareIdsAllOrClass) {
  const std::vector<std::string> ids{"USB\\VID_10C4&PID_84C4&REV_0100", "USB\\VID_10C4&PID_84C4"};
  const DevicePattern instance = ParseDevicePattern("@USB\\VID_10C4&PID_84C4\\*");
  EXPECT_EQ(instance.kind, DevicePattern::Kind::kInstanceId);
  EXPECT_EQ(instance.text, "USB\\VID_10C4&PID_84C4\\*");
  EXPECT_TRUE(DevicePatternMatches(instance, "USB\\VID_10C4&PID_84C4\\0001", ids));
  // The instance id decides, not the hardware ids.
  EXPECT_FALSE(DevicePatternMatches(instance, "ROOT\\PORTS\\0000", ids));

  const DevicePattern hardware = ParseDevicePattern("usb\\vid_10c4&pid_84c4");
  EXPECT_EQ(hardware.kind, DevicePattern::Kind::kHardwareId);
  EXPECT_TRUE(DevicePatternMatches(hardware, "ROOT\\PORTS\\0000", ids));
  EXPECT_FALSE(DevicePatternMatches(hardware, "USB\\VID_10C4&PID_84C4\\0001", {}));

  const DevicePattern all = ParseDevicePattern("*");
  EXPECT_EQ(all.kind, DevicePattern::Kind::kAll);
  EXPECT_TRUE(DevicePatternMatches(all, "ANYTHING", {}));
  // A star among other characters is a hardware-id pattern.
  EXPECT_EQ(ParseDevicePattern("*1004").kind, DevicePattern::Kind::kHardwareId);

  const DevicePattern setupClass = ParseDevicePattern("=Ports");
  EXPECT_EQ(setupClass.kind, DevicePattern::Kind::kSetupClass);
  EXPECT_EQ(setupClass.text, "Ports");
}

}  // namespace
}  // namespace Pellux
