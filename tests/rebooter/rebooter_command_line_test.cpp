// The Linux rebooter's command line: its words come from whoever may start its unit and it runs
// as root, so every word is read strictly; --help answers, anything else unknown is a usage error.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rebooter/rebooter_command_line_linux.h"

namespace Pellux {
namespace {

using Kind = RebooterCommandLine::Kind;

TEST(RebooterCommandLineTest, TakesTheThreeFormsAndTheHelp) {
  struct Row {
    std::vector<std::string> words;
    Kind kind;
    bool restartDevice;
    std::uint32_t vendorId;
    std::uint32_t productId;
    bool terminateProcess;
    std::int32_t processId;
  };
  const Row rows[] = {
      {{}, Kind::Run, false, 0, 0, false, 0},
      {{"10c4", "84c4"}, Kind::Run, true, 0x10C4, 0x84C4, false, 0},
      {{"fcf", "1004", "1234"}, Kind::Run, true, 0xFCF, 0x1004, true, 1234},
      {{"0x0FCF", "0X1004", "2147483647"}, Kind::Run, true, 0xFCF, 0x1004, true, 2147483647},
      {{"FCF", "1004", "2"}, Kind::Run, true, 0xFCF, 0x1004, true, 2},
      {{"fcf-1004-1234"}, Kind::Run, true, 0xFCF, 0x1004, true, 1234},
      {{"--help"}, Kind::Help, false, 0, 0, false, 0},
      {{"-h"}, Kind::Help, false, 0, 0, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.words));
    const RebooterCommandLine line = ReadRebooterCommandLine(row.words);
    EXPECT_EQ(line.kind, row.kind) << line.problem;
    EXPECT_EQ(line.arguments.restartDevice, row.restartDevice);
    EXPECT_EQ(line.arguments.vendorId, row.vendorId);
    EXPECT_EQ(line.arguments.productId, row.productId);
    EXPECT_EQ(line.arguments.terminateProcess, row.terminateProcess);
    EXPECT_EQ(line.arguments.processId, row.processId);
  }
}

TEST(RebooterCommandLineTest, RefusesEveryOtherWordAndSaysWhich) {
  struct Row {
    std::vector<std::string> words;
    Kind kind;
    const char* problem;
  };
  const Row rows[] = {
      // What the Windows reading takes leniently is refused here.
      {{"0x0fcf", "1004zz", "1234"}, Kind::Usage, "\"1004zz\" is no product id"},
      {{"fcf", "1004", "-5"}, Kind::Usage, "unknown option \"-5\""},
      {{"fcf", "1004", "+5"}, Kind::Usage, "\"+5\" is no process id"},
      {{" fcf", "1004"}, Kind::Usage, "\" fcf\" is no vendor id"},
      {{"fcfff", "1004"}, Kind::Usage, "\"fcfff\" is no vendor id"},
      {{"0x", "1004"}, Kind::Usage, "\"0x\" is no vendor id"},
      {{"", "1004"}, Kind::Usage, "\"\" is no vendor id"},
      {{"fcf", "1004", "0"}, Kind::Usage, "\"0\" is no process id"},
      {{"fcf", "1004", "1"}, Kind::Usage, "\"1\" is no process id"},
      {{"fcf", "1004", "01234"}, Kind::Usage, "\"01234\" is no process id"},
      {{"fcf", "1004", "2147483648"}, Kind::Usage, "\"2147483648\" is no process id"},
      {{"fcf", "1004", "99999999999"}, Kind::Usage, "\"99999999999\" is no process id"},
      {{"fcf", "1004", "12\n"}, Kind::Usage, "\"12?\" is no process id"},
      {{"fcf", "1004", "1234", "5"}, Kind::Usage, "too many words"},
      {{"fcf"}, Kind::Usage, "a product id must follow"},
      {{"--version"}, Kind::Usage, "unknown option \"--version\""},
      {{"--help", "fcf"}, Kind::Usage, "unknown option \"--help\""},
      {{"-"}, Kind::Usage, "unknown option \"-\""},
      {{"fcf-1004-1"},
       Kind::RefusedInstance,
       "Refused unit instance \"fcf-1004-1\": expected <vendor id>-<product id>-<process id>"},
      {{"fcf-1004-12\x1b[2J"},
       Kind::RefusedInstance,
       "Refused unit instance \"fcf-1004-12?[2J\": expected <vendor id>-<product id>-<process "
       "id>"},
      {{std::string(100, 'a') + "-1"},
       Kind::RefusedInstance,
       "Refused unit instance "
       "\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\": "
       "expected <vendor id>-<product id>-<process id>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.words));
    const RebooterCommandLine line = ReadRebooterCommandLine(row.words);
    EXPECT_EQ(line.kind, row.kind);
    EXPECT_EQ(line.problem, row.problem);
    EXPECT_FALSE(line.arguments.restartDevice || line.arguments.terminateProcess);
  }
}

TEST(RebooterCommandLineTest, TheUsageNamesBothFormsAndTheExitStatus) {
  const std::string usage = RebooterUsage();
  EXPECT_EQ(usage.rfind("Usage: rebooter [VENDOR PRODUCT [PID]]\n", 0), 0U) << usage;
  EXPECT_NE(usage.find("rebooter VENDOR-PRODUCT-PID\n"), std::string::npos) << usage;
  EXPECT_NE(usage.find("2 for a usage error"), std::string::npos) << usage;
  EXPECT_EQ(usage.back(), '\n');
}

}  // namespace
}  // namespace Pellux
