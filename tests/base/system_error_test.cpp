#include "base/system_error.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Pellux {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

#ifdef _WIN32
constexpr unsigned long kAccessDenied = 5;
constexpr const char* kCodeAndHex = "error 5 (";
constexpr const char* kMark = "[0x00000005]";
#else
constexpr unsigned long kAccessDenied = 13;  // EACCES
constexpr const char* kCodeAndHex = "errno 13 (Permission denied)";
constexpr const char* kMark = "[EACCES]";
#endif

TEST(SystemErrorTest, DescribesCodeWithTheSystemsTextAndItsName) {
  const std::string description = DescribeSystemError(kAccessDenied);
  EXPECT_THAT(description, StartsWith(kCodeAndHex));
  EXPECT_THAT(description, HasSubstr(kMark));
  EXPECT_THAT(description, Not(HasSubstr("no text for this code")));
  // The text stands alone in a log line: no line break or full stop at its end.
  const std::string text = SystemErrorText(kAccessDenied);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '.');
}

TEST(SystemErrorTest, NamesTheCallAndItsSubjectWhenThereIsOne) {
  EXPECT_THAT(SystemCallFailure("open", "/var/log/pellux", kAccessDenied),
              StartsWith("open(/var/log/pellux) failed: " + DescribeSystemError(kAccessDenied)));
  EXPECT_THAT(SystemCallFailure("poll", "", kAccessDenied),
              StartsWith("poll failed: " + DescribeSystemError(kAccessDenied)));
}

TEST(SystemErrorTest, CodeTheSystemDoesNotKnowStillGivesALine) {
  const std::string description = DescribeSystemError(0x7FFF1234UL);
  EXPECT_THAT(description, HasSubstr("2147422772"));
  EXPECT_FALSE(SystemErrorText(0x7FFF1234UL).empty());
}

}  // namespace
}  // namespace Pellux
