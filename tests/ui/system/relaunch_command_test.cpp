// The rebooter's command line as the service starts it: the build for the native processor,
// by full quoted path, the ids in hexadecimal and the process id in decimal, never cut.

#include "ui/system/relaunch_command.h"

#include <gtest/gtest.h>

#include <string>

namespace Pellux {
namespace {

TEST(RelaunchCommandTest, SixtyFourBitProcessorsGetTheSixtyFourBitRebooter) {
  const struct {
    std::uint16_t architecture;
    const char* suffix;
  } rows[] = {{0, ""}, {1, ""},   {5, ""},  {6, "64"}, {7, "64"},
              {8, ""}, {9, "64"}, {10, ""}, {12, ""},  {0xFFFF, ""}};
  for (const auto& row : rows) {
    EXPECT_EQ(RebooterSuffix(row.architecture), row.suffix) << row.architecture;
  }
}

TEST(RelaunchCommandTest, StartsTheRebooterByItsFullQuotedPathWithTheIds) {
  const struct {
    const char* folder;
    const char* suffix;
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::uint32_t processId;
    const char* line;
  } rows[] = {
      {"C:\\Program Files\\Pellux", "64", 0x0FCF, 0x1004, 4242,
       "\"C:\\Program Files\\Pellux\\rebooter64.exe\" fcf 1004 4242"},
      {"C:\\Pellux", "", 0x10C4, 0x84C4, 8, "\"C:\\Pellux\\rebooter.exe\" 10c4 84c4 8"},
      {"C:\\", "64", 0, 0, 0, "\"C:\\rebooter64.exe\" 0 0 0"},
      {"Z:/work/build", "64", 0xFFFF, 0xABCD, 2147483647,
       "\"Z:/work/build\\rebooter64.exe\" ffff abcd 2147483647"},
      // A process id is printed as the signed number it is read back as.
      {"C:\\Pellux", "", 1, 2, 0xFFFFFFFFU, "\"C:\\Pellux\\rebooter.exe\" 1 2 -1"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(
        RelaunchCommandLine(row.folder, row.suffix, row.vendorId, row.productId, row.processId),
        row.line)
        << row.folder;
  }
}

TEST(RelaunchCommandTest, ALineThatWouldNotFitIsRefusedNotCut) {
  // The longest ids, and the quotes and the program's name around the folder.
  const std::string ids = " ffff ffff 2147483647";
  const std::size_t rest = 2 + std::string("\\rebooter64.exe").size() + ids.size();
  const std::string fits(kRelaunchCommandLimit - 1 - rest, 'a');
  const auto longest = RelaunchCommandLine(fits, "64", 0xFFFF, 0xFFFF, 2147483647);
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->size(), kRelaunchCommandLimit - 1);
  EXPECT_FALSE(RelaunchCommandLine(fits + "a", "64", 0xFFFF, 0xFFFF, 2147483647));
  // The same folder fits with shorter ids: the limit is on the whole line.
  EXPECT_TRUE(RelaunchCommandLine(fits + "a", "64", 0xFFF, 0xFFFF, 2147483647));
}

TEST(RelaunchCommandTest, AFolderNoWindowsPathCanBeIsRefused) {
  EXPECT_FALSE(RelaunchCommandLine("", "64", 1, 2, 3));
  EXPECT_FALSE(RelaunchCommandLine("C:\\a\" & evil.exe \"", "64", 1, 2, 3));
  EXPECT_FALSE(RelaunchCommandLine(std::string(100000, 'x'), "", 1, 2, 3));
}

}  // namespace
}  // namespace Pellux
