// The status record as pelluxctl shows it to a person: the whole record, what changed, and a
// transfer's progress, on a terminal and elsewhere.

#include "tools/pelluxctl/status_text.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tools/pelluxctl/status_follower.h"

namespace Pellux {
namespace {

// Local times as "@<seconds>", so that the texts do not depend on the time zone.
StatusText Text() {
  return StatusText([](std::int64_t seconds) { return "@" + std::to_string(seconds); });
}

StatusRecord Record() {
  StatusRecord record;
  record.version = "1.2.0";
  record.now = 10000;
  record.startedAt = 10000 - 7325;
  record.mode = "standard";
  record.link = "searching";
  record.baseStation = {true, 0x0fcf, 0x1008, "S1", "/dev/ttyUSB0"};
  record.logFile = "/var/log/pellux/log.txt";
  record.proxy = "direct";
  return record;
}

TEST(StatusText, DurationsAndAgo) {
  struct Case {
    std::int64_t seconds;
    const char* duration;
  };
  const Case cases[] = {{-3, "0 s"},           {0, "0 s"},         {59, "59 s"},
                        {60, "1 min"},         {185, "3 min 5 s"}, {3600, "1 h"},
                        {7325, "2 h 2 min"},   {86400, "1 d"},     {90000, "1 d 1 h"},
                        {86400 * 400, "400 d"}};
  for (const Case& c : cases) EXPECT_EQ(StatusText::Duration(c.seconds), c.duration) << c.seconds;
  EXPECT_EQ(StatusText::Ago(100, 0), "never");
  EXPECT_EQ(StatusText::Ago(100, 97), "just now");
  EXPECT_EQ(StatusText::Ago(1000, 820), "3 min ago");
  EXPECT_EQ(StatusText::Ago(100, 200), "in the future");
}

TEST(StatusText, TheWholeRecordOneAlignedLineEach) {
  EXPECT_EQ(Text().Describe(Record()),
            "service:          version 1.2.0, up 2 h 2 min (since @2675)\n"
            "mode:             standard\n"
            "link:             searching\n"
            "base station:     open, 0fcf:1008, serial S1, /dev/ttyUSB0\n"
            "session:          none\n"
            "last upload:      none since the service started\n"
            "last error shown: none\n"
            "tracker to sleep: never\n"
            "activity log:     /var/log/pellux/log.txt\n"
            "proxy:            direct\n");

  StatusRecord busy = Record();
  busy.link = "transferring";
  busy.baseStation = {false, 0x10c4, 0xea60, "", ""};
  busy.session = StatusRecord::Session{true, "setup", 9800, 9900, 1, 4096, 64, 2, 3};
  busy.lastUpload =
      StatusRecord::Upload{"standard", 9000, 75, 1, 1, 0, 2, "failed", "kPXDaemonDisconnected"};
  busy.lastError = StatusRecord::ShownError{9001, "kPXDaemonDisconnected"};
  busy.lastSleepTime = 8000;
  busy.logFile.clear();
  const std::string text = Text().Describe(busy);
  for (const char* line :
       {"base station:     not open, 10c4:ea60\n",
        "session:          setup, started @9800 (3 min 20 s ago)\n",
        "tracker linked:   @9900 (1 min 40 s ago)\n",
        "progress:         4096 bytes from the tracker, 64 to it, operation 2/3, 1 request "
        "posted\n",
        "last upload:      failed (kPXDaemonDisconnected), @9000 (16 min 40 s ago), standard mode, "
        "took 1 min 15 s, 1 byte, 2 requests posted\n",
        "last error shown: kPXDaemonDisconnected, @9001 (16 min 39 s ago)\n",
        "tracker to sleep: @8000 (33 min 20 s ago)\n", "activity log:     no file open\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
  }

  StatusRecord foreign = Record();
  foreign.session = StatusRecord::Session{};
  foreign.session->own = false;
  foreign.session->mode = "setup";
  EXPECT_NE(Text().Describe(foreign).find("session:          setup, another user's\n"),
            std::string::npos);
}

TEST(StatusText, ChangesOneLineEach) {
  const StatusRecord before = Record();
  struct Case {
    const char* what;
    void (*change)(StatusRecord&);
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"only the time", [](StatusRecord& r) { r.now += 5; }, {}},
      {"the link", [](StatusRecord& r) { r.link = "linked"; }, {"link: searching -> linked"}},
      {"the station unplugged",
       [](StatusRecord& r) {
         r.baseStation = {false, 0x0fcf, 0x1008, "", ""};
       },
       {"base station: not open, 0fcf:1008"}},
      {"a UI session",
       [](StatusRecord& r) {
         r.mode = "setup";
         r.session = StatusRecord::Session{true, "setup", 10001, 0, 0, 0, 0, 0, 0};
       },
       {"mode: standard -> setup", "session started: setup"}},
      {"an upload",
       [](StatusRecord& r) {
         r.lastUpload =
             StatusRecord::Upload{"standard", 9999, 12, 5000, 4900, 100, 2, "succeeded", ""};
       },
       {"upload succeeded: 5000 bytes (4900 from the tracker, 100 to it) in 12 s, 2 requests "
        "posted"}},
      {"an error and a sleep",
       [](StatusRecord& r) {
         r.lastError = StatusRecord::ShownError{9999, "kPXDaemonStationUnPlugged"};
         r.lastSleepTime = 9999;
       },
       {"error shown: kPXDaemonStationUnPlugged", "tracker told to sleep"}},
      {"logging off and a proxy",
       [](StatusRecord& r) {
         r.logFile.clear();
         r.proxy = "proxy p:1";
       },
       {"activity log: no file open", "proxy: proxy p:1"}},
      {"a restart",
       [](StatusRecord& r) { r.startedAt = 9990; },
       {"service restarted, version 1.2.0"}},
  };
  for (const Case& c : cases) {
    StatusRecord after = before;
    c.change(after);
    EXPECT_EQ(Text().Changes(before, after), c.lines) << c.what;
  }

  StatusRecord running = before;
  running.session = StatusRecord::Session{true, "standard", 9000, 0, 0, 0, 0, 0, 0};
  StatusRecord linked = running;
  linked.session->linkedAt = 9500;
  EXPECT_EQ(Text().Changes(running, linked), std::vector<std::string>{"tracker linked"});
  StatusRecord next = running;
  next.session->startedAt = 9600;
  EXPECT_EQ(Text().Changes(running, next),
            (std::vector<std::string>{"session ended", "session started: standard"}));
}

// A transfer of two operations, record by record.
std::vector<StatusRecord> Transfer() {
  StatusRecord record = Record();
  record.session = StatusRecord::Session{true, "standard", 9990, 0, 0, 0, 0, 0, 0};
  std::vector<StatusRecord> records{record};
  record.now += 1;
  record.link = "transferring";
  record.session->linkedAt = 9991;
  record.session->operation = 1;
  record.session->operations = 2;
  record.session->bytesToTracker = 7;
  records.push_back(record);
  record.now += 1;
  records.push_back(record);  // nothing moved
  record.now += 1;
  record.session->operation = 2;
  record.session->bytesFromTracker = 300;
  record.session->bytesToTracker = 14;
  records.push_back(record);
  record.now += 1;
  record.link = "searching";
  record.session.reset();
  record.lastUpload =
      StatusRecord::Upload{"standard", record.now, 3, 320, 303, 17, 1, "succeeded", ""};
  records.push_back(record);
  return records;
}

// The follower's lines carry the local time of the record; read here as whatever precedes the
// first blank.
std::string WithoutStamps(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::string result;
  while (std::getline(lines, line)) {
    const std::size_t blank = line.find(' ');
    result +=
        (line.size() > 8 && line[2] == ':' && line[5] == ':' ? line.substr(blank + 1) : line) +
        "\n";
  }
  return result;
}

TEST(StatusFollower, PlainOutputGetsALineForEachChangeAndEachMoveOfTheProgress) {
  std::ostringstream out;
  StatusFollower follower(out, Text(), {false, false});
  for (const StatusRecord& record : Transfer()) follower.Show(record);
  EXPECT_EQ(WithoutStamps(out.str()),
            "link: searching -> transferring\n"
            "tracker linked\n"
            "transferring: 0 bytes from the tracker, 7 to it, operation 1/2\n"
            "transferring: 300 bytes from the tracker, 14 to it, operation 2/2\n"
            "transferred: 303 bytes from the tracker, 17 to it\n"
            "link: transferring -> searching\n"
            "session ended\n"
            "upload succeeded: 320 bytes (303 from the tracker, 17 to it) in 3 s, 1 request "
            "posted\n");
}

TEST(StatusFollower, OnATerminalTheProgressIsOneLineRedrawnInPlace) {
  std::ostringstream out;
  StatusFollower follower(out, Text(), {true, true});
  const auto records = Transfer();
  follower.Show(records[0]);
  EXPECT_EQ(out.str(), Text().Describe(records[0])) << "the first record whole";
  out.str("");
  follower.Show(records[1]);
  follower.Show(records[2]);
  follower.Show(records[3]);
  const std::string progress = out.str();
  const std::string first =
      "\rtransferring: 0 bytes from the tracker, 7 to it, operation 1/2\x1b[K";
  const std::string second =
      "\rtransferring: 300 bytes from the tracker, 14 to it, operation 2/2\x1b[K";
  EXPECT_NE(progress.find(first), std::string::npos) << progress;
  EXPECT_EQ(progress.substr(progress.size() - second.size()), second) << "redrawn, no line end";
  EXPECT_EQ(progress.find(first, progress.find(first) + 1), std::string::npos)
      << "an unchanged progress is not drawn again";
  out.str("");
  follower.Show(records[4]);
  const std::string final = "\rtransferred: 303 bytes from the tracker, 17 to it\x1b[K\n";
  EXPECT_EQ(out.str().substr(0, final.size()), final)
      << "the progress ends where the upload did, and its line ends before the changes";
  EXPECT_EQ(out.str().find('\r', 1), std::string::npos);

  out.str("");
  follower.Lost("the service does not answer");
  follower.Lost("the service does not answer");
  follower.Show(records[4]);
  EXPECT_EQ(WithoutStamps(out.str()), "the service does not answer\nthe service answers again\n");
}

}  // namespace
}  // namespace Pellux
