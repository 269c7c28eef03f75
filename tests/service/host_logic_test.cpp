// The service host's decisions as pure functions: the command line switch, the events that
// become log lines and engine actions, and the default language.

#include <gtest/gtest.h>

#include "service/default_language.h"
#include "service/fixed_text.h"
#include "service/host_events.h"
#include "service/service_command_line.h"

namespace Pellux {
namespace {

using Line = HostEventOutcome::Line;
using Action = HostEventOutcome::Action;

TEST(ServiceCommandLine, OnlyATwoCharacterFirstArgumentIsASwitch) {
  const struct {
    std::vector<std::string> arguments;
    ServiceSwitch expected;
  } cases[] = {
      {{"p.exe", "/i"}, ServiceSwitch::kInstall},
      {{"p.exe", "-I"}, ServiceSwitch::kInstall},
      {{"p.exe", "/I", "x"}, ServiceSwitch::kInstall},
      {{"p.exe", "/s"}, ServiceSwitch::kStart},
      {{"p.exe", "-p"}, ServiceSwitch::kStop},
      {{"p.exe", "/U"}, ServiceSwitch::kUninstall},
      {{"p.exe", "/v"}, ServiceSwitch::kVersion},
      {{"p.exe", "/?"}, ServiceSwitch::kUsage},
      {{"p.exe", "/x"}, ServiceSwitch::kUsage},
      {{"p.exe", "-\x01"}, ServiceSwitch::kUsage},
      {{"p.exe"}, ServiceSwitch::kRunService},
      {{"p.exe", "/II"}, ServiceSwitch::kRunService},
      {{"p.exe", "install"}, ServiceSwitch::kRunService},
      {{"p.exe", "xI"}, ServiceSwitch::kRunService},
      {{"p.exe", ""}, ServiceSwitch::kRunService},
      {{"p.exe", "/"}, ServiceSwitch::kRunService},
      {{"p.exe", "mode", "/I"}, ServiceSwitch::kRunService},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseServiceSwitch(c.arguments), c.expected) << ::testing::PrintToString(c.arguments);
  }
  EXPECT_EQ(ServiceUsageText("C:\\p 100%.exe"),
            "Usage:  C:\\p 100%.exe [/SWITCH] [mode]\n\nSwitches:\n/I\tInstall service\n"
            "/S\tStart service\n/P\tStop service\n/U\tUninstall service\n"
            "/V\tDisplay version information\n/?\tDisplay this help menu\n");
  EXPECT_EQ(ServiceSwitchFailureText(ServiceSwitch::kStop),
            "The Pellux Data Uploader service failed to stop.\n");
  EXPECT_EQ(ServiceSwitchFailureText(ServiceSwitch::kVersion), "");
}

// The Linux daemon runs only when given nothing: any word it does not know is a usage error,
// not a second daemon started beside the first.
TEST(ServiceCommandLine, TheDaemonRunsOnlyWithoutArguments) {
  const struct {
    std::vector<std::string> arguments;
    DaemonCommand expected;
  } cases[] = {
      {{"uplinker"}, DaemonCommand::kRunDaemon},
      {{"uplinker", "/S"}, DaemonCommand::kSwitch},
      {{"uplinker", "-p"}, DaemonCommand::kSwitch},
      {{"uplinker", "/v"}, DaemonCommand::kSwitch},
      {{"uplinker", "--help"}, DaemonCommand::kHelp},
      {{"uplinker", "-h"}, DaemonCommand::kHelp},
      {{"uplinker", "/?"}, DaemonCommand::kHelp},
      {{"uplinker", "--version"}, DaemonCommand::kVersion},
      {{"uplinker", "/x"}, DaemonCommand::kUsageError},
      {{"uplinker", "--verbose"}, DaemonCommand::kUsageError},
      {{"uplinker", "install"}, DaemonCommand::kUsageError},
      {{"uplinker", ""}, DaemonCommand::kUsageError},
      {{"uplinker", "/II"}, DaemonCommand::kUsageError},
      {{"uplinker", "setup", "/I"}, DaemonCommand::kUsageError},
      {{"uplinker", "--help=x"}, DaemonCommand::kUsageError},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseDaemonCommandLine(c.arguments), c.expected)
        << ::testing::PrintToString(c.arguments);
  }
}

DeviceEvent Interface(std::uint32_t type, const std::u16string& name) {
  return {type, 0x1234, DeviceEvent::kInterfaceDeviceType, name};
}

TEST(HostDeviceEvents, BaseStationArrivalAndRemovalBecomeActionsWithTheSerial) {
  const std::u16string name = u"\\\\?\\USB#VID_10C4&PID_84C4#4021337#{a5dcbf10-6530-11d2}";
  std::vector<std::string> asked;
  const DeviceNameLookup lookup = [&](const std::string& enumerator, const std::string& id,
                                      bool arrival) -> std::optional<std::string> {
    asked.push_back(enumerator + "|" + id + "|" + (arrival ? "present" : "all"));
    return "ANT USB Stick";
  };
  const auto arrival =
      TranslateDeviceEvent(Interface(DeviceEvent::kArrival, name), 0x10C4, 0x84C4, lookup);
  EXPECT_EQ(arrival.lines,
            (std::vector<Line>{
                {4, "[DEVICE EVENT] event:0x00008000 data:0x00001234"},
                {4, "Device info: \\\\?\\USB#VID_10C4&PID_84C4#4021337#{a5dcbf10-6530-11d2}"},
                {4, "Device name: ANT USB Stick"}}));
  EXPECT_EQ(arrival.action, (Action{"basestationconnect", "4021337"}));
  EXPECT_EQ(asked, std::vector<std::string>{"USB|USB\\VID_10C4&PID_84C4\\4021337|present"});

  const auto removal =
      TranslateDeviceEvent(Interface(DeviceEvent::kRemoveComplete, name), 0x10C4, 0x84C4, nullptr);
  EXPECT_EQ(removal.lines.size(), 2u) << "no lookup, no name line";
  EXPECT_EQ(removal.action, (Action{"basestationdisconnect", "4021337"}));
}

TEST(HostDeviceEvents, NamesAndDevicesThatAreNotOursGiveLinesOnly) {
  const auto none = [](const std::string&, const std::string&, bool) {
    return std::optional<std::string>();
  };
  // Lower case matches, and its serial is handed on upper-cased.
  EXPECT_EQ(TranslateDeviceEvent(
                Interface(DeviceEvent::kArrival, u"\\\\?\\usb#vid_10c4&pid_84c4#abc12#{g}"), 0x10C4,
                0x84C4, none)
                .action,
            (Action{"basestationconnect", "ABC12"}));
  // The prefix fits, the expression does not (no '#' after the serial): an empty serial.
  EXPECT_EQ(TranslateDeviceEvent(Interface(DeviceEvent::kArrival, u"\\\\?\\USB#VID_10C4&PID_84C4#"),
                                 0x10C4, 0x84C4, none)
                .action,
            (Action{"basestationconnect", ""}));
  // Another device's removal, another event, another device type: lines, no action.
  const auto other = TranslateDeviceEvent(
      Interface(DeviceEvent::kRemoveComplete, u"\\\\?\\USB#VID_046D&PID_C077#5&1#{g}"), 0x10C4,
      0x84C4, none);
  EXPECT_EQ(other.lines.size(), 2u);
  EXPECT_FALSE(other.action);
  const auto query = TranslateDeviceEvent(Interface(0x8001, u"\\\\?\\USB#VID_10C4&PID_84C4#1#g"),
                                          0x10C4, 0x84C4, none);
  EXPECT_EQ(query.lines.size(), 1u);
  EXPECT_FALSE(query.action);
  DeviceEvent volume = Interface(DeviceEvent::kArrival, u"\\\\?\\USB#VID_10C4&PID_84C4#1#g");
  volume.deviceType = 2;
  EXPECT_EQ(TranslateDeviceEvent(volume, 0x10C4, 0x84C4, none).lines.size(), 1u);
  // Wide characters keep their low byte in the log; short and hash-less names describe nothing.
  EXPECT_EQ(TranslateDeviceEvent(Interface(DeviceEvent::kArrival, u"\u0141ab"), 1, 2, none)
                .lines.back()
                .text,
            "Device info: Aab");
  EXPECT_EQ(DeviceInstanceId("\\\\?\\USB#VID_1&PID_2#9#{g}"), "USB\\VID_1&PID_2\\9");
  EXPECT_EQ(DeviceInstanceId("ab#c"), "");
  EXPECT_EQ(DeviceInstanceId("abcdefg"), "");
  EXPECT_EQ(DeviceInstanceId("ab#cdefg"), "");
}

TEST(HostDeviceEvents, SerialPortsOnLinuxInTheSameTerms) {
  const SerialPortEvent station{true, "/dev/ttyUSB0", 0x10C4, 0x84C4, "4021337", "ANT USB Stick"};
  const auto arrival = TranslateSerialPortEvent(station, 0x10C4, 0x84C4);
  EXPECT_EQ(arrival.lines,
            (std::vector<Line>{
                {4, "[DEVICE EVENT] add /dev/ttyUSB0"},
                {4, "Device info: USB 10c4:84c4 serial '4021337' product 'ANT USB Stick'"}}));
  EXPECT_EQ(arrival.action, (Action{"basestationconnect", "4021337"}));
  SerialPortEvent gone = station;
  gone.arrived = false;
  EXPECT_EQ(TranslateSerialPortEvent(gone, 0x10C4, 0x84C4).action,
            (Action{"basestationdisconnect", "4021337"}));
  // Another adapter, or a station of other configured ids: lines only; a "%" is only text.
  const SerialPortEvent other{true, "/dev/ttyUSB1", 0x0403, 0x6001, "%s%n", "FT232R"};
  const auto logged = TranslateSerialPortEvent(other, 0x10C4, 0x84C4);
  EXPECT_FALSE(logged.action);
  EXPECT_EQ(logged.lines[1].text, "Device info: USB 0403:6001 serial '%s%n' product 'FT232R'");
  EXPECT_FALSE(TranslateSerialPortEvent(station, 0x0FCF, 0x1004).action);
}

TEST(HostPowerEvents, SuspendAndResumeHandOnTheSerialInUse) {
  const struct {
    std::uint32_t type;
    std::string line;
    std::optional<Action> action;
  } cases[] = {
      {0, "[POWER EVENT] QUERY SUSPEND", std::nullopt},
      {2, "[POWER EVENT] QUERY SUSPEND FAILED", std::nullopt},
      {4, "[POWER EVENT] SUSPEND", Action{"basestationdisconnect", "77"}},
      {6, "[POWER EVENT] RESUME CRITICAL", Action{"basestationconnect", "77"}},
      {7, "[POWER EVENT] RESUME SUSPEND", Action{"basestationconnect", "77"}},
      {9, "[POWER EVENT] BATTERY LOW", std::nullopt},
      {10, "[POWER EVENT] POWER STATUS CHANGE", std::nullopt},
      {11, "[POWER EVENT] OEM EVENT", std::nullopt},
      {18, "[POWER EVENT] RESUME AUTOMATIC", std::nullopt},
      {5, "[POWER EVENT] UNKNOWN POWER EVENT -- event:0x00000005 data:0x000000ab", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto outcome = TranslatePowerEvent(c.type, 0xAB, "77");
    EXPECT_EQ(outcome.lines, (std::vector<Line>{{4, c.line}})) << c.type;
    EXPECT_EQ(outcome.action, c.action) << c.type;
  }
  EXPECT_EQ(TranslatePowerEvent(4, 0, "").action, (Action{"basestationdisconnect", ""}));
  EXPECT_EQ(TranslateSessionChange(9, 0).lines,
            (std::vector<Line>{{4, "[POWER EVENT] SESSION REMOTE CONTROL"}}));
  EXPECT_EQ(TranslateSessionChange(1, 0).lines.front().text, "[POWER EVENT] CONSOLE CONNECT");
  EXPECT_EQ(TranslateSessionChange(0, 16).lines.front().text,
            "[POWER EVENT] UNKNOWN SESSION EVENT -- event:0x00000000 data:0x00000010");
  EXPECT_FALSE(TranslateSessionChange(5, 0).action);
}

TEST(HostDefaultLanguage, EnUsIsRefinedByNationAndAnythingElseIsLeftAlone) {
  EXPECT_EQ(RefinedLanguage("en_US", 183), "en_NZ");
  EXPECT_EQ(RefinedLanguage("en_US", 12), "en_AU");
  EXPECT_EQ(RefinedLanguage(std::nullopt, 242), "en_GB");
  EXPECT_EQ(RefinedLanguage("en_US", 244), std::nullopt);
  EXPECT_EQ(RefinedLanguage("en_NZ", 183), std::nullopt) << "stays once written";
  EXPECT_EQ(RefinedLanguage("de_DE", 12), std::nullopt);
}

TEST(HostFixedText, CopiesTruncateSilentlyAndAlwaysTerminate) {
  FixedText<4> text("abcdef");
  EXPECT_EQ(text.view(), "abc");
  text.Assign("");
  EXPECT_EQ(text.view(), "");
  text.Assign(std::string_view("x\0y", 3));
  EXPECT_STREQ(text.c_str(), "x");
  EXPECT_EQ(FixedText<64>().view(), "");
}

}  // namespace
}  // namespace Pellux
