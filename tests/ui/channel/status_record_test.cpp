// The status record as the service writes it and pelluxctl reads it: every field survives the
// round trip, and a record that is not what the service writes is refused with the reason.

#include "ui/channel/status_record.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace Pellux {
namespace {

using Json = nlohmann::json;

StatusRecord FullRecord() {
  StatusRecord record;
  record.version = "1.2.0";
  record.now = 1765361234;
  record.startedAt = 1765350000;
  record.mode = "setup";
  record.link = "transferring";
  record.baseStation = {true, 0x0fcf, 0x1008, "SERIAL-1", "/dev/ttyUSB0"};
  record.lastSleepTime = 1765360000;
  record.session =
      StatusRecord::Session{true, "setup", 1765361000, 1765361010, 2, 4294967295, 1 << 20, 2, 3};
  record.lastUpload = StatusRecord::Upload{"standard",
                                           1765355000,
                                           42,
                                           123456,
                                           123000,
                                           456,
                                           3,
                                           StatusRecord::kFailed,
                                           "kPXDaemonDisconnected"};
  record.lastError = StatusRecord::ShownError{1765355001, "kPXDaemonDisconnected"};
  record.logFile = "/var/log/pellux/log-2026-12-10.txt";
  record.proxy = "proxy proxy.example:3128";
  return record;
}

TEST(StatusRecord, EveryFieldSurvivesTheRoundTrip) {
  const StatusRecord full = FullRecord();
  EXPECT_EQ(DecodeStatusRecord(EncodeStatusRecord(full)), full);
  // None of the optional parts.
  StatusRecord empty;
  empty.link = "stopped";
  EXPECT_EQ(DecodeStatusRecord(EncodeStatusRecord(empty)), empty);
  // One line, as --json prints it and a follower reads it.
  EXPECT_EQ(EncodeStatusRecord(full).find('\n'), std::string::npos);
}

TEST(StatusRecord, TheFieldsHaveTheNamesScriptsUse) {
  const Json json = Json::parse(EncodeStatusRecord(FullRecord()));
  EXPECT_EQ(json["base_station"]["vendor_id"], 0x0fcf);
  EXPECT_EQ(json["session"]["bytes_from_tracker"], 4294967295u);
  EXPECT_EQ(json["session"]["operation"], 2);
  EXPECT_EQ(json["session"]["operations"], 3);
  EXPECT_EQ(json["last_upload"]["result"], "failed");
  EXPECT_EQ(json["last_upload"]["failure"], "kPXDaemonDisconnected");
  EXPECT_EQ(json["last_error"]["key"], "kPXDaemonDisconnected");
  EXPECT_EQ(json["log_file"], "/var/log/pellux/log-2026-12-10.txt");
  EXPECT_TRUE(Json::parse(EncodeStatusRecord(StatusRecord{}))["session"].is_null());
}

TEST(StatusRecord, TextsThatAreNotUtf8AreReplacedNotThrownOver) {
  StatusRecord record = FullRecord();
  record.baseStation.serial = std::string("AB\xff\xfe", 4);
  const auto back = DecodeStatusRecord(EncodeStatusRecord(record));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->baseStation.serial.substr(0, 2), "AB");
  EXPECT_NE(back->baseStation.serial, record.baseStation.serial);
}

TEST(StatusRecord, UnknownFieldsOfANewerServiceAreIgnored) {
  Json json = Json::parse(EncodeStatusRecord(FullRecord()));
  json["battery"] = 80;
  json["session"]["sync_id"] = "x";
  EXPECT_EQ(DecodeStatusRecord(json.dump()), FullRecord());
}

// One field of the full record changed (or removed, with a null value), and what the reader
// must say.
struct HostileCase {
  const char* what;
  std::vector<std::string> path;
  Json value;
  bool remove;
  const char* why;
};

TEST(StatusRecord, ARecordWithAFieldOfTheWrongTypeOrRangeIsRefusedSayingWhich) {
  const std::vector<HostileCase> cases = {
      {"version as a number", {"version"}, 1, false, "\"version\" is not a text"},
      {"no mode", {"mode"}, nullptr, true, "no field \"mode\""},
      {"negative now", {"now"}, -1, false, "\"now\" is out of range"},
      {"fractional time", {"started_at"}, 1.5, false, "\"started_at\" is not a whole number"},
      {"vendor id too large",
       {"base_station", "vendor_id"},
       65536,
       false,
       "\"vendor_id\" is out of range"},
      {"negative product id",
       {"base_station", "product_id"},
       -1,
       false,
       "\"product_id\" is out of range"},
      {"open as text", {"base_station", "open"}, "yes", false, "\"open\" is not true or false"},
      {"device as a list",
       {"base_station", "device"},
       Json::array({"/dev/ttyUSB0"}),
       false,
       "\"device\" is not a text"},
      {"station as a list",
       {"base_station"},
       Json::array(),
       false,
       "\"base_station\" is not an object"},
      {"session as text", {"session"}, "none", false, "\"session\" is neither an object nor null"},
      {"operation past 32 bits",
       {"session", "operation"},
       4294967296u,
       false,
       "\"operation\" is out of range"},
      {"negative byte count",
       {"session", "bytes_to_tracker"},
       -5,
       false,
       "\"bytes_to_tracker\" is out of range"},
      {"upload without result", {"last_upload", "result"}, nullptr, true, "no field \"result\""},
      {"error key as a number", {"last_error", "key"}, 7, false, "\"key\" is not a text"},
      {"no proxy", {"proxy"}, nullptr, true, "no field \"proxy\""},
  };
  for (const HostileCase& hostile : cases) {
    Json json = Json::parse(EncodeStatusRecord(FullRecord()));
    Json* parent = &json;
    for (std::size_t i = 0; i + 1 < hostile.path.size(); ++i) parent = &(*parent)[hostile.path[i]];
    if (hostile.remove) {
      parent->erase(hostile.path.back());
    } else {
      (*parent)[hostile.path.back()] = hostile.value;
    }
    std::string why;
    EXPECT_FALSE(DecodeStatusRecord(json.dump(), &why).has_value()) << hostile.what;
    EXPECT_EQ(why, hostile.why) << hostile.what;
  }
}

TEST(StatusRecord, TextThatIsNoJsonObjectIsRefused) {
  const std::vector<std::string> texts = {"",
                                          "{",
                                          "[]",
                                          "null",
                                          "\"text\"",
                                          "42",
                                          "{\"version\":",
                                          std::string(1, '\0'),
                                          std::string(100000, '['),
                                          "{} trailing",
                                          "\xef\xbb\xbf{"};
  for (const std::string& text : texts) {
    std::string why;
    EXPECT_FALSE(DecodeStatusRecord(text, &why).has_value()) << text.substr(0, 20);
    EXPECT_FALSE(why.empty()) << text.substr(0, 20);
  }
}

}  // namespace
}  // namespace Pellux
