// Which USB device a power cycle may touch, from what udev and sysfs tell of it: every fact is
// outside text, compared exactly, and one that cannot be read counts against the cycle.

#include "device/usb_power_cycle_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace Pellux {
namespace {

using Verdict = PowerCycleVerdict;

TEST(UsbPowerCycleRulesTest, HubsNeverAndOnlyMarkedBaseStationsWhenAsked) {
  struct Row {
    const char* name;
    bool hasUsbParent;
    std::optional<std::string> deviceNumber;
    std::optional<std::string> deviceClass;
    std::optional<std::string> mark;
    Verdict anyDevice;     // baseStationsOnly false
    Verdict stationsOnly;  // baseStationsOnly true
  };
  const Row rows[] = {
      {"a marked station", true, "2", "00", "1", Verdict::Allowed, Verdict::Allowed},
      {"a station numbered 127", true, "127", "ff", "1", Verdict::Allowed, Verdict::Allowed},
      {"no mark", true, "2", "00", std::nullopt, Verdict::Allowed, Verdict::NotBaseStation},
      {"mark 0", true, "2", "00", "0", Verdict::Allowed, Verdict::NotBaseStation},
      {"mark yes", true, "2", "00", "yes", Verdict::Allowed, Verdict::NotBaseStation},
      {"mark with a blank", true, "2", "00", "1 ", Verdict::Allowed, Verdict::NotBaseStation},
      {"mark 01", true, "2", "00", "01", Verdict::Allowed, Verdict::NotBaseStation},
      {"empty mark", true, "2", "00", "", Verdict::Allowed, Verdict::NotBaseStation},
      {"no USB parent", false, "2", "00", "1", Verdict::RootHub, Verdict::RootHub},
      {"devnum 1", true, "1", "00", "1", Verdict::RootHub, Verdict::RootHub},
      {"devnum 0", true, "0", "00", "1", Verdict::RootHub, Verdict::RootHub},
      {"devnum 001", true, "001", "00", "1", Verdict::RootHub, Verdict::RootHub},
      {"a root hub", false, "1", "09", "1", Verdict::RootHub, Verdict::RootHub},
      {"an external hub", true, "3", "09", "1", Verdict::Hub, Verdict::Hub},
      {"no devnum", true, std::nullopt, "00", "1", Verdict::Unknown, Verdict::Unknown},
      {"empty devnum", true, "", "00", "1", Verdict::Unknown, Verdict::Unknown},
      {"devnum with a sign", true, "+2", "00", "1", Verdict::Unknown, Verdict::Unknown},
      {"devnum -1", true, "-1", "00", "1", Verdict::Unknown, Verdict::Unknown},
      {"devnum with a blank", true, " 2", "00", "1", Verdict::Unknown, Verdict::Unknown},
      {"devnum too long", true, "99999999999999999999", "00", "1", Verdict::Unknown,
       Verdict::Unknown},
      {"devnum with a NUL", true, std::string("2\0", 2), "00", "1", Verdict::Unknown,
       Verdict::Unknown},
      {"no class", true, "2", std::nullopt, "1", Verdict::Unknown, Verdict::Unknown},
      {"class 9", true, "2", "9", "1", Verdict::Unknown, Verdict::Unknown},
      {"class 009", true, "2", "009", "1", Verdict::Unknown, Verdict::Unknown},
      {"class zz", true, "2", "zz", "1", Verdict::Unknown, Verdict::Unknown},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const UsbDeviceFacts facts{row.hasUsbParent, row.deviceNumber, row.deviceClass, row.mark};
    EXPECT_EQ(JudgePowerCycle(facts, false), row.anyDevice);
    EXPECT_EQ(JudgePowerCycle(facts, true), row.stationsOnly);
  }
}

TEST(UsbPowerCycleRulesTest, EveryRefusalIsToldInWords) {
  EXPECT_STREQ(PowerCycleVerdictText(Verdict::RootHub), "a root hub");
  EXPECT_STREQ(PowerCycleVerdictText(Verdict::Hub), "a hub");
  EXPECT_NE(
      std::string(PowerCycleVerdictText(Verdict::NotBaseStation)).find("PELLUX_BASE_STATION=1"),
      std::string::npos);
  EXPECT_NE(std::string(PowerCycleVerdictText(Verdict::Unknown)).find("cannot be read"),
            std::string::npos);
}

}  // namespace
}  // namespace Pellux
