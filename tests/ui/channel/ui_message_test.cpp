#include "ui/channel/ui_message.h"

#include <gtest/gtest.h>

#include <string>

namespace Pellux {
namespace {

struct SplitCase {
  const char* text;
  char code;
  const char* name;
  const char* rest;
};

TEST(UiMessageSplit, ReadsCodeNameAndRestAsAStream) {
  const SplitCase cases[] = {
      {"T \\\\.\\pipe\\X", 'T', "\\\\.\\pipe\\X", ""},
      {"T\\\\.\\pipe\\X", 'T', "\\\\.\\pipe\\X", ""},
      {"  \t\nS @ui setup", 'S', "@ui", "setup"},
      {"F /tmp/ui.sock a=1&b=2", 'F', "/tmp/ui.sock", "a=1&b=2"},
      // Only the one white space character after the name is not part of the rest.
      {"F @ui   x  ", 'F', "@ui", "  x  "},
      {"F @ui\n line\nnext", 'F', "@ui", " line\nnext"},
      {"E @ui\n", 'E', "@ui", ""},
      {"X", 'X', "", ""},
      {"Q    ", 'Q', "", ""},
      {"L @ui 1 7", 'L', "@ui", "1 7"},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.text);
    const auto message = SplitUiMessage(c.text);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->code, c.code);
    EXPECT_EQ(message->replyName, c.name);
    EXPECT_EQ(message->rest, c.rest);
  }
}

TEST(UiMessageSplit, RefusesEmptyBlankAndOversizedMessages) {
  EXPECT_FALSE(SplitUiMessage(""));
  EXPECT_FALSE(SplitUiMessage(" \t\r\n\v\f"));
  const std::string longest = "F @ui " + std::string(kMaxUiMessageBytes - 6, 'a');
  EXPECT_TRUE(SplitUiMessage(longest));
  EXPECT_FALSE(SplitUiMessage(longest + "a"));
}

TEST(UiMessageSplit, JoinedMessagesSplitBackToTheirParts) {
  const UiMessage messages[] = {{'T', "@pelluxctl-1", ""},
                                {'F', "/run/user/1000/ui.sock", " leading blank and\nlines "},
                                {'S', "@x", "setup"},
                                {'U', "@x", "http://host/path"}};
  for (const UiMessage& message : messages) {
    const auto back = SplitUiMessage(JoinUiMessage(message.code, message.replyName, message.rest));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, message);
  }
  EXPECT_EQ(JoinUiMessage('T', "@ui"), "T@ui");
  EXPECT_EQ(JoinUiMessage('L', "@ui", "1 7"), "L@ui 1 7");
}

TEST(UiMessageLogging, DecodesTwoIntegersAndRefusesTheRest) {
  struct Case {
    const char* rest;
    bool ok;
    std::int32_t enabled;
    std::int32_t days;
  };
  const Case cases[] = {
      {"1 7", true, 1, 7},
      {"1 0", true, 1, 0},
      {"0 30", true, 0, 30},
      {"  -1\t+5 extra words", true, -1, 5},
      {"2147483647 -2147483648", true, 2147483647, -2147483648},
      {"1", false, 0, 0},
      {"", false, 0, 0},
      {"1 x", false, 0, 0},
      {"1x 7", false, 0, 0},
      {"1 2147483648", false, 0, 0},
      {"- 7", false, 0, 0},
      {"0x1 7", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rest);
    const auto request = DecodeLogging(c.rest);
    ASSERT_EQ(request.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(request->enabled, c.enabled);
    EXPECT_EQ(request->days, c.days);
    EXPECT_EQ(DecodeLogging(EncodeLogging(*request)), request);
  }
}

TEST(UiMessageProxy, DecodesTheSevenFields) {
  const auto settings = DecodeProxy("1 . -1 4294967295 *.local;<local> proxy%20host:8080 a+b%2Bc");
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ(settings->selection, 1);
  EXPECT_EQ(settings->autoConfigUrl, "");
  EXPECT_EQ(settings->autoDiscoveryFlags, 0xFFFFFFFFu);
  EXPECT_EQ(settings->flags, 0xFFFFFFFFu);
  EXPECT_EQ(settings->bypass, "*.local;<local>");
  EXPECT_EQ(settings->server, "proxy host:8080");
  EXPECT_EQ(settings->serverOverride, "a+b+c");
}

TEST(UiMessageProxy, RefusesTheWholeMessageForABadField) {
  struct Case {
    const char* rest;
    const char* why;
  };
  const Case cases[] = {
      {"1 . 0 0 . . %", "a '%' without two hexadecimal digits after it"},
      {"1 a%2 0 0 . . .", "a '%' without two hexadecimal digits after it"},
      {"1 . 0 0 %zz . .", "a '%' without two hexadecimal digits after it"},
      {"1 . 0 0 . %4", "fewer than seven fields"},
      {"1 . 0 0 . .", "fewer than seven fields"},
      {"x . 0 0 . . .", "the selection is not an integer"},
      {"1 . 4294967296 0 . . .", "the auto-discovery flags are not an integer"},
      {"1 . 0 0x2 . . .", "the flags are not an integer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rest);
    std::string why;
    EXPECT_FALSE(DecodeProxy(c.rest, &why));
    EXPECT_EQ(why, c.why);
  }
}

TEST(UiMessageProxy, WordsEncodeAndDecodeBothWays) {
  struct Case {
    const char* text;
    const char* word;
  };
  const Case cases[] = {
      {"", "."},
      {".", "%2E"},
      {"a b", "a%20b"},
      {"50%", "50%25"},
      {"a+b", "a+b"},
      {"tab\there", "tab%09here"},
      {"\xC3\xA9", "%C3%A9"},
      {"http://wpad/proxy.pac", "http://wpad/proxy.pac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(EncodeProxyWord(c.text), c.word);
    EXPECT_EQ(DecodeProxyWord(c.word), std::string(c.text));
  }
  // Lower-case digits are read too.
  EXPECT_EQ(DecodeProxyWord("a%2fb"), std::string("a/b"));

  ProxySettings settings;
  settings.selection = 2;
  settings.autoConfigUrl = ".";
  settings.autoDiscoveryFlags = 3;
  settings.flags = ProxySettings::kManualProxy | ProxySettings::kDirect;
  settings.bypass = "<local> *.corp";
  settings.server = "http=p:3128;https=p:3129";
  settings.serverOverride = "";
  EXPECT_EQ(EncodeProxy(settings), "2 %2E 3 3 <local>%20*.corp http=p:3128;https=p:3129 .");
  EXPECT_EQ(DecodeProxy(EncodeProxy(settings)), settings);
}

TEST(UiMessageService, SessionModeAndUrlLoseTheirSurroundingWhiteSpace) {
  EXPECT_EQ(DecodeSessionMode("setup\n"), std::string("setup"));
  EXPECT_EQ(DecodeSessionMode(" standard "), std::string("standard"));
  EXPECT_FALSE(DecodeSessionMode(" \n"));
  EXPECT_EQ(DecodeUrl(" http://h/p\r\n"), "http://h/p");
  EXPECT_EQ(DecodeUrl(""), "");
}

TEST(UiMessageToUi, HtmlStatusAndInfoBothWays) {
  EXPECT_EQ(EncodeHtml({-1, -1, "<p>a b</p>"}), "H-1 -1 <p>a b</p>");
  EXPECT_EQ(EncodeHtml({640, 480, ""}), "H640 480 ");
  const HtmlPage pages[] = {{-1, -1, "<p>a b</p>"}, {640, 480, ""}, {1, 2, " x\n%s"}};
  for (const HtmlPage& page : pages) {
    const std::string message = EncodeHtml(page);
    ASSERT_EQ(message.front(), UiCode::kHtml);
    EXPECT_EQ(DecodeHtml(std::string_view(message).substr(1)), page);
  }
  for (const char* bad : {"", "1", "1 2", "a 2 x", "1 b x", "1  2 x"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(DecodeHtml(bad));
  }

  EXPECT_EQ(EncodeStatusText({false, 0}), "0 0");
  EXPECT_EQ(EncodeStatusText({true, 1767225600}), "1 1767225600");
  EXPECT_EQ(DecodeStatusText("1 1767225600"), (StatusReply{true, 1767225600}));
  EXPECT_EQ(DecodeStatusText("0 0"), (StatusReply{false, 0}));
  for (const char* bad : {"", "0", "2 0", "1 -5", "1 0 0", "x 0"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(DecodeStatusText(bad));
  }

  EXPECT_EQ(EncodeInfo("Uploading 3 of 5"), "IUploading 3 of 5");
}

}  // namespace
}  // namespace Pellux
