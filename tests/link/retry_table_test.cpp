#include "link/retry_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Pellux {
namespace {

using ::testing::ElementsAre;

class RetryTableTest : public ::testing::Test {
 protected:
  std::vector<std::string> lines;
  RetryTable table{[this](const std::string& line) { lines.push_back(line); }};
};

TEST_F(RetryTableTest, StepWithoutBudgetIsExhaustedAtOnce) {
  EXPECT_FALSE(table.Consult(RetryTable::kAssignChannel));
  EXPECT_THAT(lines, ElementsAre("Retries exhausted"));
  EXPECT_FALSE(table.Has(RetryTable::kAssignChannel));
}

TEST_F(RetryTableTest, PacketSendIsRetriedUntilItsBudgetIsSpent) {
  int sends = 0;
  table.Register(RetryTable::kPacketSend, 2, "Failed to send PING", [&] {
    ++sends;
    return true;
  });
  EXPECT_TRUE(table.Consult(RetryTable::kPacketSend));
  EXPECT_TRUE(table.Consult(RetryTable::kPacketSend));
  EXPECT_EQ(table.Remaining(RetryTable::kPacketSend), 0);
  EXPECT_FALSE(table.Consult(RetryTable::kPacketSend));
  EXPECT_EQ(sends, 2);
  EXPECT_THAT(lines, ElementsAre("Failed to send PING", "Retrying...", "Failed to send PING",
                                 "Retrying...", "Failed to send PING", "Retries exhausted"));
  EXPECT_FALSE(table.Has(RetryTable::kPacketSend));
}

TEST_F(RetryTableTest, SuccessErasesOnlyItsOwnKey) {
  table.Register(RetryTable::kPacketSend, 5, "x", [] { return true; });
  table.Register(RetryTable::kCloseChannel, 1, "y", [] { return true; });
  table.Erase(RetryTable::kPacketSend);
  EXPECT_FALSE(table.Has(RetryTable::kPacketSend));
  EXPECT_EQ(table.Remaining(RetryTable::kCloseChannel), 1);
  table.Clear();
  EXPECT_FALSE(table.Has(RetryTable::kCloseChannel));
}

TEST_F(RetryTableTest, RetryMayRegisterTheSameKeyAgain) {
  // A retried send registers a fresh budget from inside the retry, as the sender does when
  // it starts a new transfer.
  int sends = 0;
  RetryTable::Operation send;
  send = [&] {
    ++sends;
    if (sends < 3) table.Register(RetryTable::kPacketSend, 1, "again", send);
    return true;
  };
  table.Register(RetryTable::kPacketSend, 1, "first", send);
  EXPECT_TRUE(table.Consult(RetryTable::kPacketSend));
  EXPECT_EQ(table.Remaining(RetryTable::kPacketSend), 1);
  EXPECT_TRUE(table.Consult(RetryTable::kPacketSend));
  EXPECT_EQ(sends, 2);
}

}  // namespace
}  // namespace Pellux
