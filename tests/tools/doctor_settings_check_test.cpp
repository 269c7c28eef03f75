// The settings file as the daemon reads it: one table of outcomes, and the values the other
// checks then use.

#include <gtest/gtest.h>

#include <string>

#include "session/client_settings.h"
#include "tools/pelluxctl/doctor/settings_check.h"

namespace Pellux {
namespace {

constexpr const char* kPath = "/var/lib/pellux/settings.json";

FileText Read(const std::string& text) {
  FileText file;
  file.state = FileText::State::kRead;
  file.text = text;
  return file;
}

FileFacts Owned(std::uint32_t owner, std::uint32_t mode) {
  FileFacts facts;
  facts.state = FileFacts::State::kPresent;
  facts.regular = true;
  facts.owner = owner;
  facts.group = owner;
  facts.mode = mode;
  return facts;
}

UserFacts Pellux() {
  UserFacts user;
  user.state = UserFacts::State::kFound;
  user.uid = 998;
  user.gid = 998;
  user.groups = {998};
  return user;
}

TEST(DoctorSettingsFile, EachKindOfFileGivesItsStatus) {
  FileText missing;
  missing.state = FileText::State::kMissing;
  FileText large;
  large.state = FileText::State::kTooLarge;
  FileText denied;
  denied.denied = true;
  denied.error = "open(/var/lib/pellux/settings.json) failed: errno 13 (Permission denied)";
  FileText fifo;
  fifo.error = "/var/lib/pellux/settings.json is no regular file";
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  struct Case {
    const char* what;
    FileText text;
    FileFacts facts;
    DoctorStatus status;
    const char* found;
    const char* fix;
  };
  const Case cases[] = {
      {"missing",
       missing,
       {},
       DoctorStatus::kOk,
       "does not exist: every setting takes its default",
       ""},
      {"empty", Read(""), Owned(998, 0600), DoctorStatus::kOk, "is empty", ""},
      {"valid", Read(R"({"Tracker": {"ServerHost": "h", "ServerPort": 8001, "SerialPort": ""}})"),
       Owned(998, 0600), DoctorStatus::kOk, "/var/lib/pellux/settings.json is valid", ""},
      {"not JSON", Read(R"({"Tracker": {)"), Owned(998, 0600), DoctorStatus::kFail,
       "is no settings file the daemon can read (", "pellux-settings(5)"},
      {"not an object", Read("[1, 2]"), Owned(998, 0600), DoctorStatus::kFail,
       "its top level is array, not an object", "edit the file"},
      {"too deep", Read(R"({"a": )" + deep + "}"), Owned(998, 0600), DoctorStatus::kFail,
       "nests more than 32 levels deep", "edit the file"},
      {"too large", large, Owned(998, 0600), DoctorStatus::kFail, "larger than 1048576 bytes",
       "replace it"},
      {"denied to this user",
       denied,
       {},
       DoctorStatus::kWarn,
       "cannot be read by this user: open(",
       "sudo pelluxctl doctor"},
      {"no regular file", fifo, {}, DoctorStatus::kFail, "is no regular file", "regular file"},
      {"Tracker not an object", Read(R"({"Tracker": [1]})"), Owned(998, 0600), DoctorStatus::kFail,
       "\"Tracker\" is array, not an object", "edit the file"},
      {"unknown key", Read(R"({"Tracker": {"ServerHots": "h", "VID": 4292}})"), Owned(998, 0600),
       DoctorStatus::kWarn, "is valid; unknown to the daemon: Tracker/ServerHots",
       "fix or remove these keys"},
      {"unknown section", Read(R"({"Other": {}, "Tracker": {}})"), Owned(998, 0600),
       DoctorStatus::kWarn, "unknown to the daemon: Other", "fix or remove"},
      {"wrong types", Read(R"({"Tracker": {"ServerPort": "8001", "ServerHost": 5, "VID": -1}})"),
       Owned(998, 0600), DoctorStatus::kWarn,
       "read as unset: ServerHost (not a text of at most 4095 bytes), ServerPort (not a number "
       "from 0 to 4294967295), VID (not a number",
       "fix or remove"},
      {"too long a text", Read(R"({"Tracker": {"ClientId": ")" + std::string(4096, 'a') + "\"}}"),
       Owned(998, 0600), DoctorStatus::kWarn, "read as unset: ClientId", "fix or remove"},
      {"root's alone", Read("{}"), Owned(0, 0600), DoctorStatus::kFail,
       "(owner 0, group 0, mode 0600) cannot be read by the user pellux",
       "sudo chown pellux:pellux /var/lib/pellux/settings.json"},
      {"root's, readable by all", Read("{}"), Owned(0, 0644), DoctorStatus::kOk, "is valid", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DoctorSettings settings;
    const DoctorCheck check = CheckSettingsFile(kPath, c.text, c.facts, Pellux(), settings);
    EXPECT_EQ(check.name, "settings");
    EXPECT_EQ(check.status, c.status) << check.found;
    EXPECT_NE(check.found.find(c.found), std::string::npos) << check.found;
    if (*c.fix == '\0') {
      EXPECT_EQ(check.fix, "");
    } else {
      EXPECT_NE(check.fix.find(c.fix), std::string::npos) << check.fix;
    }
  }
}

TEST(DoctorSettingsFile, TheOtherChecksGetWhatTheDaemonWouldUse) {
  DoctorSettings settings;
  CheckSettingsFile(kPath, Read(R"({"Tracker": {"VID": 4047, "PID": 4294967295, "ServerHost": "",
                    "ServerPort": 8080, "ErrorPath": "/e", "SerialPort": "/dev/ttyACM0",
                    "ProxySelection": 1, "ProxyFlags": 2, "ProxyServer": "p:3128",
                    "ProxyBypass": "<local>", "ProxyServerOverride": "o:1"}})"),
                    Owned(998, 0600), Pellux(), settings);
  EXPECT_EQ(settings.vendorId, 0x0fcf);
  // 4294967295 and an empty text are "unset" to the engine: the defaults stay.
  EXPECT_EQ(settings.productId, 0x84c4);
  EXPECT_EQ(settings.serverHost, "upload.pellux.com");
  EXPECT_EQ(settings.serverPort, 8080);
  EXPECT_EQ(settings.errorPath, "/e");
  EXPECT_EQ(settings.serialPort, "/dev/ttyACM0");
  EXPECT_EQ(settings.proxy.selection, 1);
  EXPECT_EQ(settings.proxy.flags, 2U);
  EXPECT_EQ(settings.proxy.server, "p:3128");
  EXPECT_EQ(settings.proxy.bypass, "<local>");
  EXPECT_EQ(settings.proxy.serverOverride, "o:1");

  // A file that fails leaves the defaults, whatever an earlier file gave.
  CheckSettingsFile(kPath, Read("{"), Owned(998, 0600), Pellux(), settings);
  EXPECT_EQ(settings.vendorId, 0x10c4);
  EXPECT_EQ(settings.serverPort, 8001);
  EXPECT_EQ(settings.errorPath, "/device/tracker/errors");
  EXPECT_EQ(settings.proxy, ProxySettings{});
}

TEST(DoctorSettingsFile, TheDefaultsAreTheEngines) {
  const ClientSettings engine;
  const DoctorSettings doctor;
  EXPECT_EQ(doctor.vendorId, engine.vendorId);
  EXPECT_EQ(doctor.productId, engine.productId);
  EXPECT_EQ(doctor.serverHost, engine.serverHost);
  EXPECT_EQ(doctor.serverPort, engine.serverPort);
  EXPECT_EQ(doctor.errorPath, engine.errorPath);
  EXPECT_EQ(doctor.serialPort, "");
  EXPECT_EQ(doctor.proxy, ProxySettings{});
}

}  // namespace
}  // namespace Pellux
