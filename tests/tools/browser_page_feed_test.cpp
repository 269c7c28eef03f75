// What the browser page is told, as server-sent events, and when it counts as open.

#include <gtest/gtest.h>

#include "tools/pelluxctl/browser/page_feed.h"
#include "tools/pelluxctl/browser/page_presence.h"

namespace Pellux {
namespace {

using namespace std::chrono_literals;

TEST(PageFeedTest, EachChangeIsOneEventAndANewStreamGetsTheState) {
  PageFeed feed;
  EXPECT_EQ(feed.Snapshot(), "");
  EXPECT_EQ(feed.AddInfo("Welcome \"home\"\nsecond line"),
            "event: info\ndata: {\"text\":\"Welcome \\\"home\\\"\\nsecond line\"}\n\n");
  EXPECT_EQ(feed.SetStatus(R"({"mode":"setup","link":"linked"})"),
            "event: status\ndata: {\"mode\":\"setup\",\"link\":\"linked\"}\n\n");
  // The same record again says nothing; a record over several lines is not passed on.
  EXPECT_EQ(feed.SetStatus(R"({"mode":"setup","link":"linked"})"), "");
  EXPECT_EQ(feed.SetStatus("{\n}"), "");
  EXPECT_EQ(feed.AddPage({400, 300, "<p>1</p>"}),
            "event: page\ndata: {\"height\":300,\"number\":1,\"width\":400}\n\n");
  EXPECT_EQ(feed.AddPage({-1, -1, "<p>2</p>"}),
            "event: page\ndata: {\"height\":-1,\"number\":2,\"width\":-1}\n\n");
  ASSERT_EQ(feed.CurrentPage(1), nullptr);
  ASSERT_NE(feed.CurrentPage(2), nullptr);
  EXPECT_EQ(feed.CurrentPage(2)->page.html, "<p>2</p>");
  EXPECT_EQ(feed.End("Over."), "event: ended\ndata: {\"text\":\"Over.\"}\n\n");
  EXPECT_EQ(feed.End("Again."), "");
  EXPECT_EQ(feed.Snapshot(),
            "event: info\ndata: {\"text\":\"Welcome \\\"home\\\"\\nsecond line\"}\n\n"
            "event: status\ndata: {\"mode\":\"setup\",\"link\":\"linked\"}\n\n"
            "event: page\ndata: {\"height\":-1,\"number\":2,\"width\":-1}\n\n"
            "event: ended\ndata: {\"text\":\"Over.\"}\n\n");
}

TEST(PageFeedTest, KeepsTheLastLinesAndNeverThrowsOverBytes) {
  PageFeed feed;
  for (int i = 0; i < 60; ++i) feed.AddInfo("line " + std::to_string(i));
  const std::string snapshot = feed.Snapshot();
  EXPECT_EQ(snapshot.find("line 9\""), std::string::npos);
  EXPECT_NE(snapshot.find("line 10\""), std::string::npos);
  EXPECT_NE(snapshot.find("line 59\""), std::string::npos);
  // Not UTF-8: replaced, not thrown.
  EXPECT_EQ(feed.AddInfo("a\xff\xfe"
                         "b"),
            "event: info\ndata: {\"text\":\"a\xef\xbf\xbd\xef\xbf\xbd"
            "b\"}\n\n");
}

TEST(PagePresenceTest, OpenWhileAStreamIsAndForTheGraceAfterTheLast) {
  const PagePresence::TimePoint start{};
  PagePresence presence(5s);
  EXPECT_EQ(presence.At(start + 1h), PagePresence::State::kNotOpened);
  presence.StreamOpened();
  presence.StreamOpened();
  presence.StreamClosed(start + 1s);
  EXPECT_EQ(presence.At(start + 1h), PagePresence::State::kOpen);
  presence.StreamClosed(start + 2s);
  EXPECT_EQ(presence.At(start + 6999ms), PagePresence::State::kOpen);
  EXPECT_EQ(presence.At(start + 7s), PagePresence::State::kClosed);
  // A reload: open again.
  presence.StreamOpened();
  EXPECT_EQ(presence.At(start + 1h), PagePresence::State::kOpen);
  presence.StreamClosed(start + 10s);
  presence.StreamClosed(start + 10s);
  EXPECT_EQ(presence.At(start + 15s), PagePresence::State::kClosed);
}

}  // namespace
}  // namespace Pellux
