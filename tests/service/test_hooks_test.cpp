// The daemon's test hooks as read from PELLUX_TEST_HOOKS: what applies, and a line for every
// entry that does not, whatever the variable holds.

#include "service/test_hooks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace Pellux {
namespace {

using namespace std::chrono_literals;
using Seconds = std::optional<std::chrono::seconds>;

const std::string kKnown = " ignored (known: engine-stall-after, radio-idle-limit)";

TEST(TestHooksTest, EachEntryAppliesOrIsReportedAndTheOthersStillApply) {
  const struct {
    const char* name;
    std::string text;
    Seconds stallAfter;
    Seconds idleLimit;
    std::vector<std::string> problems;
  } rows[] = {
      {"empty", "", {}, {}, {}},
      {"blanks only", " \t  ", {}, {}, {}},
      {"empty entries", ",, ,\t,", {}, {}, {}},
      {"both", "engine-stall-after=5,radio-idle-limit=20", 5s, 20s, {}},
      {"blanks around", " engine-stall-after = 5 ,\tradio-idle-limit=20 ,", 5s, 20s, {}},
      {"one", "radio-idle-limit=20", {}, 20s, {}},
      {"lowest", "engine-stall-after=1,radio-idle-limit=1", 1s, 1s, {}},
      {"highest", "engine-stall-after=3600,radio-idle-limit=630", 3600s, 630s, {}},
      {"leading zeros", "radio-idle-limit=007", {}, 7s, {}},
      {"unknown name",
       "bogus=3,radio-idle-limit=20",
       {},
       20s,
       {"PELLUX_TEST_HOOKS: unknown hook \"bogus\"" + kKnown}},
      {"names are exact",
       "Radio-Idle-Limit=20",
       {},
       {},
       {"PELLUX_TEST_HOOKS: unknown hook \"Radio-Idle-Limit\"" + kKnown}},
      {"no name", "=5", {}, {}, {"PELLUX_TEST_HOOKS: unknown hook \"\"" + kKnown}},
      {"no equals sign",
       "radio-idle-limit,engine-stall-after=9",
       9s,
       {},
       {"PELLUX_TEST_HOOKS: \"radio-idle-limit\" ignored: name=SECONDS expected"}},
      {"no value",
       "radio-idle-limit=",
       {},
       {},
       {"PELLUX_TEST_HOOKS: radio-idle-limit=\"\" ignored: a whole number of seconds expected"}},
      {"not a number",
       "engine-stall-after=abc",
       {},
       {},
       {"PELLUX_TEST_HOOKS: engine-stall-after=\"abc\" ignored: a whole number of seconds "
        "expected"}},
      {"a unit",
       "engine-stall-after=5s",
       {},
       {},
       {"PELLUX_TEST_HOOKS: engine-stall-after=\"5s\" ignored: a whole number of seconds "
        "expected"}},
      {"a fraction",
       "radio-idle-limit=1.5",
       {},
       {},
       {"PELLUX_TEST_HOOKS: radio-idle-limit=\"1.5\" ignored: a whole number of seconds "
        "expected"}},
      {"a sign",
       "radio-idle-limit=-5,engine-stall-after=+5",
       {},
       {},
       {"PELLUX_TEST_HOOKS: radio-idle-limit=\"-5\" ignored: a whole number of seconds expected",
        "PELLUX_TEST_HOOKS: engine-stall-after=\"+5\" ignored: a whole number of seconds "
        "expected"}},
      {"hexadecimal",
       "radio-idle-limit=0x10",
       {},
       {},
       {"PELLUX_TEST_HOOKS: radio-idle-limit=\"0x10\" ignored: a whole number of seconds "
        "expected"}},
      {"two numbers",
       "radio-idle-limit=5 5",
       {},
       {},
       {"PELLUX_TEST_HOOKS: radio-idle-limit=\"5 5\" ignored: a whole number of seconds "
        "expected"}},
      {"zero",
       "engine-stall-after=0,radio-idle-limit=0",
       {},
       {},
       {"PELLUX_TEST_HOOKS: engine-stall-after=0 ignored: out of range 1..3600 seconds",
        "PELLUX_TEST_HOOKS: radio-idle-limit=0 ignored: out of range 1..630 seconds"}},
      {"too large",
       "engine-stall-after=3601,radio-idle-limit=631",
       {},
       {},
       {"PELLUX_TEST_HOOKS: engine-stall-after=3601 ignored: out of range 1..3600 seconds",
        "PELLUX_TEST_HOOKS: radio-idle-limit=631 ignored: out of range 1..630 seconds"}},
      {"past any integer",
       "radio-idle-limit=99999999999999999999999999",
       {},
       {},
       {"PELLUX_TEST_HOOKS: radio-idle-limit=99999999999999999999999999 ignored: out of range "
        "1..630 seconds"}},
      {"given twice: the last applies",
       "radio-idle-limit=20,radio-idle-limit=30",
       {},
       30s,
       {"PELLUX_TEST_HOOKS: radio-idle-limit=30 replaces radio-idle-limit=20 given before"}},
      {"given twice, the last unusable: the first stays",
       "radio-idle-limit=20,radio-idle-limit=0",
       {},
       20s,
       {"PELLUX_TEST_HOOKS: radio-idle-limit=0 ignored: out of range 1..630 seconds"}},
      {"control characters are escaped",
       "\x1b[31mred\n=1,radio-idle-limit=20\r",
       {},
       {},
       {"PELLUX_TEST_HOOKS: unknown hook \"\\x1b[31mred\\n\"" + kKnown,
        "PELLUX_TEST_HOOKS: radio-idle-limit=\"20\\r\" ignored: a whole number of seconds "
        "expected"}},
      {"quotes and percent signs stay data",
       "\"%s%n\"=1",
       {},
       {},
       {"PELLUX_TEST_HOOKS: unknown hook \"\"%s%n\"\"" + kKnown}},
      {"a semicolon is no separator",
       "engine-stall-after=5;radio-idle-limit=20",
       {},
       {},
       {"PELLUX_TEST_HOOKS: engine-stall-after=\"5;radio-idle-limit=20\" ignored: a whole "
        "number of seconds expected"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const TestHooksReading reading = ParseTestHooks(row.text);
    EXPECT_EQ(reading.hooks.engineStallAfter, row.stallAfter);
    EXPECT_EQ(reading.hooks.radioIdleLimit, row.idleLimit);
    EXPECT_EQ(reading.problems, row.problems);
    EXPECT_EQ(reading.hooks.Any(), row.stallAfter || row.idleLimit);
  }
}

TEST(TestHooksTest, BytesThatAreNoTextAreReportedNotTrusted) {
  const TestHooksReading reading = ParseTestHooks("\xff\xfe=\x80,radio-idle-limit=\xc3\xa9");
  EXPECT_FALSE(reading.hooks.Any());
  ASSERT_EQ(reading.problems.size(), 2u);
  EXPECT_THAT(reading.problems[0], ::testing::StartsWith("PELLUX_TEST_HOOKS: unknown hook \""));
  EXPECT_THAT(reading.problems[1], ::testing::StartsWith("PELLUX_TEST_HOOKS: radio-idle-limit=\""));
}

TEST(TestHooksTest, VeryLongTextGivesShortLinesAndAFewOfThem) {
  // A huge name or value is cut in its line, and the length of what was left out said.
  const struct {
    const char* name;
    std::string text;
    std::string lineStart;
  } rows[] = {
      {"long name", std::string(100000, 'a') + "=1", "PELLUX_TEST_HOOKS: unknown hook \"aaaa"},
      {"long number", "radio-idle-limit=" + std::string(100000, '9'),
       "PELLUX_TEST_HOOKS: radio-idle-limit=9999"},
      {"long garbage value", "engine-stall-after=" + std::string(100000, 'x'),
       "PELLUX_TEST_HOOKS: engine-stall-after=\"xxxx"},
      {"long entry without a value", std::string(100000, 'z'), "PELLUX_TEST_HOOKS: \"zzzz"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const TestHooksReading reading = ParseTestHooks(row.text);
    EXPECT_FALSE(reading.hooks.Any());
    ASSERT_EQ(reading.problems.size(), 1u);
    EXPECT_THAT(reading.problems[0], ::testing::StartsWith(row.lineStart));
    EXPECT_THAT(reading.problems[0], ::testing::HasSubstr("more bytes)"));
    EXPECT_LT(reading.problems[0].size(), 240u);
  }

  // Thousands of bad entries are listed up to the limit and counted after it; a good entry
  // after them still applies.
  std::string many;
  for (int i = 0; i < 10000; ++i) many += "x=1,";
  many += "radio-idle-limit=20";
  const TestHooksReading reading = ParseTestHooks(many);
  EXPECT_EQ(reading.hooks.radioIdleLimit, Seconds(20s));
  ASSERT_EQ(reading.problems.size(), kMostTestHookProblems + 1);
  EXPECT_EQ(reading.problems.front(), "PELLUX_TEST_HOOKS: unknown hook \"x\"" + kKnown);
  EXPECT_EQ(reading.problems.back(),
            "PELLUX_TEST_HOOKS: " + std::to_string(10000 - kMostTestHookProblems) +
                " more problems not listed");
}

TEST(TestHooksTest, TheActiveLineNamesEveryActiveHookAndOnlyThose) {
  const struct {
    const char* name;
    TestHooks hooks;
    std::string line;
  } rows[] = {
      {"none", {}, ""},
      {"stall only",
       {.engineStallAfter = 5s, .radioIdleLimit = {}},
       "Test hooks active: engine-stall-after=5 (PELLUX_TEST_HOOKS; not for production)"},
      {"idle limit only",
       {.engineStallAfter = {}, .radioIdleLimit = 20s},
       "Test hooks active: radio-idle-limit=20 (PELLUX_TEST_HOOKS; not for production)"},
      {"both",
       {.engineStallAfter = 5s, .radioIdleLimit = 20s},
       "Test hooks active: engine-stall-after=5, radio-idle-limit=20 (PELLUX_TEST_HOOKS; not for "
       "production)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(TestHooksActiveLine(row.hooks), row.line);
  }
}

}  // namespace
}  // namespace Pellux
