#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace Pellux {
namespace {

using Args = std::vector<std::string>;

TEST(SimOptionsTest, ReadsAnswersFaultsAndTheUnplug) {
  const SimArguments parsed = ParseSimArguments({"--answer",         "2201=download:2048:11",
                                                 "--answer",         "2202=upload:512:1000",
                                                 "--answer",         "default=status:0x0F",
                                                 "--fault",          "refuse:0x4B:0x15:2",
                                                 "--fault",          "lose:to-tracker:3",
                                                 "--fault",          "corrupt:to-host:size",
                                                 "--fault",          "silent",
                                                 "--unplug-after",   "1500",
                                                 "--serial",         "77",
                                                 "--tracker-serial", "0x10"});
  ASSERT_EQ(parsed.error, "");
  const SimOptions& options = parsed.options;
  ASSERT_EQ(options.answers.size(), 2u);
  EXPECT_EQ(options.answers[0].first, (std::vector<std::uint8_t>{0x22, 0x01}));
  EXPECT_EQ(options.answers[0].second.kind, TrackerAnswer::Kind::Download);
  EXPECT_EQ(options.answers[0].second.data, SimDownloadBytes(2048, 11));
  EXPECT_EQ(options.answers[1].second.kind, TrackerAnswer::Kind::Upload);
  EXPECT_EQ(options.answers[1].second.requestSize, 512);
  EXPECT_EQ(options.answers[1].second.uploadSize, std::optional<std::size_t>(1000));
  ASSERT_TRUE(options.defaultAnswer.has_value());
  EXPECT_EQ(options.defaultAnswer->statusCode, 0x0F);
  ASSERT_EQ(options.faults.size(), 4u);
  EXPECT_EQ(options.faults[0].kind, SimFault::Kind::Refuse);
  EXPECT_EQ(options.faults[0].messageId, 0x4B);
  EXPECT_EQ(options.faults[0].code, 0x15);
  EXPECT_EQ(options.faults[0].count, 2);
  EXPECT_EQ(options.faults[1].kind, SimFault::Kind::Lose);
  EXPECT_EQ(options.faults[1].direction, Direction::ToTracker);
  EXPECT_EQ(options.faults[2].corruption, BurstCorruption::Size);
  EXPECT_EQ(options.faults[3].kind, SimFault::Kind::Silent);
  EXPECT_EQ(options.unplugAfter, std::chrono::milliseconds(1500));
  EXPECT_EQ(options.station.serialNumber, 77u);
  EXPECT_EQ(options.station.tracker.serialNumber, 16u);
  EXPECT_FALSE(options.streamRate.has_value());
}

TEST(SimOptionsTest, FaultsReachTheFaultPlan) {
  const SimArguments parsed = ParseSimArguments(
      {"--fault", "refuse:0x4B:0x15", "--fault", "duplicate:to-host:1", "--fault",
       "fail-transfers:2", "--fault", "out-of-range", "--fault", "beacon-host-id:99"});
  ASSERT_EQ(parsed.error, "");
  FaultPlan plan;
  for (const SimFault& fault : parsed.options.faults) fault.ApplyTo(plan);
  EXPECT_EQ(plan.TakeRefusal(0x4B), std::optional<std::uint8_t>(0x15));
  EXPECT_EQ(plan.TakeRefusal(0x4B), std::nullopt);
  EXPECT_TRUE(plan.TakeDuplicate(Direction::ToHost));
  EXPECT_FALSE(plan.TakeDuplicate(Direction::ToTracker));
  EXPECT_TRUE(plan.TakeFailedTransfer());
  EXPECT_TRUE(plan.TakeFailedTransfer());
  EXPECT_FALSE(plan.TakeFailedTransfer());
  EXPECT_FALSE(plan.TrackerInRange());
  EXPECT_EQ(plan.BeaconHostId(), std::optional<std::uint32_t>(99));
}

TEST(SimOptionsTest, ReadsAFileOfOptions) {
  const std::string path = ::testing::TempDir() + "pellux-sim-options.txt";
  {
    std::ofstream file(path);
    file << "# the tracker\n\nanswer 2201=status:1:42\n--fault lose:to-host:1\n  stream 5000\n"
            "duration 2000\n";
  }
  const SimArguments parsed = ParseSimArguments({"--serial", "5", "--file", path});
  std::remove(path.c_str());
  ASSERT_EQ(parsed.error, "");
  ASSERT_EQ(parsed.options.answers.size(), 1u);
  EXPECT_EQ(parsed.options.answers[0].second.statusData, 42u);
  ASSERT_EQ(parsed.options.faults.size(), 1u);
  EXPECT_EQ(parsed.options.streamRate, std::optional<std::uint32_t>(5000));
  EXPECT_EQ(parsed.options.streamFor, std::chrono::milliseconds(2000));
  EXPECT_EQ(parsed.options.station.serialNumber, 5u);
}

TEST(SimOptionsTest, RefusesWhatItCannotRead) {
  const std::vector<Args> hostile{
      {"--answer"},
      {"--answer", "2201"},
      {"--answer", "=status:1"},
      {"--answer", "22011=status:1"},
      {"--answer", "zz=status:1"},
      {"--answer", "2201=status"},
      {"--answer", "2201=status:256"},
      {"--answer", "2201=download:-1"},
      {"--answer", "2201=download:99999999999999999999"},
      {"--answer", "2201=upload:0"},
      {"--answer", "2201=teleport:1"},
      {"--answer", "001122334455667788=status:1"},
      {"--fault", "lose:sideways:1"},
      {"--fault", "lose:to-host"},
      {"--fault", "corrupt:to-host:everything"},
      {"--fault", "refuse:0x100:1"},
      {"--fault", "explode"},
      {"--fault", ""},
      {"--unplug-after", "soon"},
      {"--unplug-after", "-5"},
      {"--stream", "0"},
      {"--serial", "4294967296"},
      {"--file", "/nonexistent/pellux-sim.txt"},
      {"--file"},
      {"--bogus", "1"},
      {"stray"},
  };
  for (const Args& arguments : hostile) {
    const SimArguments parsed = ParseSimArguments(arguments);
    EXPECT_NE(parsed.error, "") << arguments.front() << " " << arguments.back();
  }
}

TEST(SimOptionsTest, AFileMayNotNameAnotherFile) {
  const std::string path = ::testing::TempDir() + "pellux-sim-loop.txt";
  {
    std::ofstream file(path);
    file << "file " << path << "\n";
  }
  const SimArguments parsed = ParseSimArguments({"--file", path});
  std::remove(path.c_str());
  EXPECT_NE(parsed.error.find("may not name another file"), std::string::npos) << parsed.error;
}

TEST(SimOptionsTest, HelpIsHelp) {
  EXPECT_TRUE(ParseSimArguments({"--help"}).wantsHelp);
  EXPECT_FALSE(ParseSimArguments({}).wantsHelp);
  EXPECT_EQ(ParseSimArguments({}).error, "");
}

}  // namespace
}  // namespace Pellux
