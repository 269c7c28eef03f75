// The rebooter unit's instance name: what the daemon writes, and what the rebooter (run as root)
// takes from the command line that systemd gives it.

#include <gtest/gtest.h>

#include "rebooter/rebooter_instance_linux.h"

namespace Pellux {
namespace {

TEST(RebooterInstanceTest, TheDaemonsNamesAreReadBackAsTheyWereWritten) {
  struct Row {
    std::uint16_t vendorId;
    std::uint16_t productId;
    std::int32_t processId;
    const char* unit;
  };
  const Row rows[] = {
      {0x0FCF, 0x1004, 1234, "pellux-rebooter@fcf-1004-1234.service"},
      {0x10C4, 0x84C4, 2, "pellux-rebooter@10c4-84c4-2.service"},
      {0xFFFF, 0x0001, 2147483647, "pellux-rebooter@ffff-1-2147483647.service"},
  };
  for (const Row& row : rows) {
    const std::string unit = RebooterUnitName(row.vendorId, row.productId, row.processId);
    EXPECT_EQ(unit, row.unit);
    const std::string instance = unit.substr(std::string(kRebooterUnitPrefix).size(),
                                             unit.size() - std::string(kRebooterUnitPrefix).size() -
                                                 std::string(kRebooterUnitSuffix).size());
    const auto arguments = ParseRebooterInstance(instance);
    ASSERT_TRUE(arguments.has_value()) << instance;
    EXPECT_TRUE(arguments->restartDevice && arguments->terminateProcess);
    EXPECT_EQ(arguments->vendorId, row.vendorId);
    EXPECT_EQ(arguments->productId, row.productId);
    EXPECT_EQ(arguments->processId, row.processId);
  }
}

TEST(RebooterInstanceTest, AnythingButTheExactFormIsRefused) {
  const std::string refused[] = {
      "",
      "-",
      "--",
      "fcf-1004",
      "fcf-1004-",
      "-1004-1234",
      "fcf--1234",
      "fcf-1004-1234-5",
      "FCF-1004-1234",
      "fcf-1004-12a4",
      "0fcf-1004-1234",
      "fcf-01004-1234",
      "fcfff-1004-1234",
      "0-1004-1234",
      "fcf-1004-0",
      "fcf-1004-1",
      "fcf-1004-01234",
      "fcf-1004-2147483648",
      "fcf-1004-99999999999",
      "fcf-1004--1",
      "fcf-1004-+1234",
      " fcf-1004-1234",
      "fcf-1004-1234 ",
      "fcf-1004-1234\n",
      "0xfcf-1004-1234",
      "fcf-1004-1234;reboot",
      "../../bin/sh",
      std::string("fcf-1004-12\0"
                  "34",
                  14),
      std::string("fcf\xff-1004-1234"),
  };
  for (const std::string& instance : refused) {
    EXPECT_FALSE(ParseRebooterInstance(instance).has_value()) << ::testing::PrintToString(instance);
  }
}

}  // namespace
}  // namespace Pellux
