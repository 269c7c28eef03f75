// The settings keys doctor knows against the ones pellux-settings(5) documents, read from the
// source tree (on Linux, where the tree's paths are the program's).

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "tools/pelluxctl/doctor/settings_check.h"

namespace Pellux {
namespace {

TEST(DoctorSettingsFile, KnowsTheKeysOfTheManualPageWithTheirTypes) {
  std::ifstream page(std::string(PELLUX_SOURCE_DIR) + "/doc/man/pellux-settings.5.scd");
  ASSERT_TRUE(page.good());
  const std::regex entry(R"(^\*([A-Za-z]+)\* \((text|number)[,)])");
  std::map<std::string, bool> documented;
  for (std::string line; std::getline(page, line);) {
    std::smatch match;
    if (std::regex_search(line, match, entry)) documented[match[1]] = match[2] == "number";
  }
  std::map<std::string, bool> known;
  for (const SettingsKey& key : KnownSettingsKeys()) known[key.name] = key.number;
  EXPECT_GT(documented.size(), 20U);
  EXPECT_EQ(known, documented);
}

}  // namespace
}  // namespace Pellux
