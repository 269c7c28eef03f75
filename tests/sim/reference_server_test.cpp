#include "sim/reference_server.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Pellux {
namespace {

TEST(ReferenceServerScenarioTest, SplitsDocumentsAtDashLines) {
  const std::string text =
      "<p><response host=\"{host}\"/></p>\n"
      "---\n"
      "\n"
      "<p>\n  <device action=\"close\"/>\n</p>\n"
      "  ---  \n"
      "---\n";
  EXPECT_EQ(ReferenceServer::ParseScenario(text),
            (std::vector<std::string>{"<p><response host=\"{host}\"/></p>",
                                      "<p>\n  <device action=\"close\"/>\n</p>"}));
  EXPECT_TRUE(ReferenceServer::ParseScenario("").empty());
  EXPECT_TRUE(ReferenceServer::ParseScenario("---\n---").empty());
  // A dash line inside a document's text is not a separator.
  EXPECT_EQ(ReferenceServer::ParseScenario("<a>---</a>").size(), 1U);
}

}  // namespace
}  // namespace Pellux
