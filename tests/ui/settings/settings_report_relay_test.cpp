#include "ui/settings/settings_report_relay.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Pellux {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(SettingsReportRelay, HoldsLinesUntilItHasADestinationThenPassesThemOnInOrder) {
  SettingsReportRelay relay;
  const SettingsStore::Reporter report = relay.Reporter();
  report("first");
  report("second");
  std::vector<std::string> got;
  relay.SendTo([&got](const std::string& line) { got.push_back(line); });
  EXPECT_THAT(got, ElementsAre("first", "second"));
  report("third");
  EXPECT_THAT(got, ElementsAre("first", "second", "third"));
  // Without a destination lines are held again, and go to the next one only.
  relay.SendTo(nullptr);
  report("fourth");
  EXPECT_THAT(got, ElementsAre("first", "second", "third"));
  std::vector<std::string> later;
  relay.SendTo([&later](const std::string& line) { later.push_back(line); });
  EXPECT_THAT(later, ElementsAre("fourth"));
}

TEST(SettingsReportRelay, KeepsOnlyTheNewestLinesWhileNobodyListens) {
  SettingsReportRelay relay;
  const SettingsStore::Reporter report = relay.Reporter();
  const std::size_t sent = SettingsReportRelay::kMaxHeld + 10;
  for (std::size_t index = 0; index < sent; ++index) report(std::to_string(index));
  std::vector<std::string> got;
  relay.SendTo([&got](const std::string& line) { got.push_back(line); });
  ASSERT_EQ(got.size(), SettingsReportRelay::kMaxHeld);
  EXPECT_EQ(got.front(), "10");
  EXPECT_EQ(got.back(), std::to_string(sent - 1));
  std::vector<std::string> none;
  relay.SendTo([&none](const std::string& line) { none.push_back(line); });
  EXPECT_THAT(none, IsEmpty()) << "held lines are handed on once";
}

}  // namespace
}  // namespace Pellux
