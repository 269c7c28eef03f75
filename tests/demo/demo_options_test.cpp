#include "demo/demo_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Pellux {
namespace {

TEST(DemoOptionsTest, TakesAServerAndASessionCount) {
  const auto parsed = DemoOptions::Parse({"--server", "upload.example:8001", "--sessions", "3"});
  EXPECT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.serverHost, "upload.example");
  EXPECT_EQ(parsed.options.serverPort, 8001);
  EXPECT_EQ(parsed.options.sessions, 3);
  EXPECT_FALSE(parsed.wantsHelp);
}

TEST(DemoOptionsTest, DefaultsToOneSessionWithTheBuiltInServer) {
  const auto parsed = DemoOptions::Parse({});
  EXPECT_EQ(parsed.error, "");
  EXPECT_FALSE(parsed.options.serverHost.has_value());
  EXPECT_EQ(parsed.options.sessions, 1);
  EXPECT_TRUE(DemoOptions::Parse({"--help"}).wantsHelp);
}

TEST(DemoOptionsTest, RefusesWhatItDoesNotUnderstandWithAMessage) {
  const std::vector<std::vector<std::string>> hostile{
      {"--server"},
      {"--server", "nohost"},
      {"--server", ":80"},
      {"--server", "host:0"},
      {"--server", "host:65536"},
      {"--server", "host:80x"},
      {"--server", "host:-1"},
      {"--server", "host:99999999999999999999"},
      {"--sessions", "0"},
      {"--sessions", "1001"},
      {"--sessions", "two"},
      {"--sessions", ""},
      {"--sessions", "+3"},
      {"--sessions"},
      {"--verbose"},
      {std::string("--server\0x", 10), "h:1"},
  };
  for (const auto& arguments : hostile) {
    const auto parsed = DemoOptions::Parse(arguments);
    EXPECT_NE(parsed.error, "") << arguments.front();
  }
  EXPECT_EQ(DemoOptions::Parse({"--sessions", "two"}).error,
            "--sessions wants a number from 1 to 1000, not 'two'");
}

}  // namespace
}  // namespace Pellux
