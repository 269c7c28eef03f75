#include "base/log_format.h"

#include <gtest/gtest.h>

#include <string>

namespace Pellux {
namespace {

TEST(LogFormatTest, OutsideTextIsAnArgumentAndNeverTheFormat) {
  EXPECT_EQ(RenderLine(FormatLine("Server said '%s' (%d)", "100% done %s", 7)),
            "Server said '100% done %s' (7)");
  // Too few or too many arguments: the line is still logged.
  EXPECT_EQ(RenderLine(FormatLine("%s and %s", "one")), "one and ");
  EXPECT_EQ(RenderLine(FormatLine("%s", "one", "two")), "one");
}

TEST(LogFormatTest, ALineThatCannotBeRenderedIsLoggedAsSuch) {
  // A format bound without FormatLine's leniency throws when it is rendered.
  boost::format strict("%1% of %2%");
  strict % 1;
  const std::string text = RenderLine(strict);
  EXPECT_EQ(text.rfind("(unrenderable log line: ", 0), 0u) << text;
  EXPECT_EQ(text.back(), ')');
}

}  // namespace
}  // namespace Pellux
