#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/base64.h"
#include "server/form_escape.h"
#include "server/request_body.h"

namespace Pellux {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(FormEscapeTest, KeepsOnlyLettersDigitsAndSixMarks) {
  EXPECT_EQ(FormEscape(""), "");
  EXPECT_EQ(FormEscape("a b&c=d.e"), "a%20b%26c%3dd%2ee");
  EXPECT_EQ(FormEscape("~!*()'"), "~!*()'");
  EXPECT_EQ(FormEscape("AZaz09"), "AZaz09");
  EXPECT_EQ(FormEscape("-_./+[]%"), "%2d%5f%2e%2f%2b%5b%5d%25");
  EXPECT_EQ(FormEscape(std::string("\xC3\xA9\x00\xFF", 4)), "%c3%a9%00%ff");
}

TEST(FormEscapeTest, EscapesEveryOtherByteOfTheWholeRange) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const std::string escaped = FormEscape(std::string(1, c));
    const bool kept =
        std::isalnum(byte) != 0 || std::string_view("~!*()'").find(c) != std::string_view::npos;
    if (kept && byte < 128) {
      EXPECT_EQ(escaped, std::string(1, c)) << byte;
    } else {
      ASSERT_EQ(escaped.size(), 3u) << byte;
      EXPECT_EQ(escaped[0], '%');
      EXPECT_EQ(std::stoi(escaped.substr(1), nullptr, 16), byte);
      EXPECT_EQ(escaped, [&] {
        std::string lower = escaped;
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return lower;
      }());
    }
  }
}

TEST(Base64Test, EncodesWithPaddingAndWithoutLineBreaks) {
  EXPECT_EQ(Base64Encode(Bytes("")), "");
  EXPECT_EQ(Base64Encode(Bytes("a")), "YQ==");
  EXPECT_EQ(Base64Encode(Bytes("ab")), "YWI=");
  EXPECT_EQ(Base64Encode(Bytes("abc")), "YWJj");
  EXPECT_EQ(Base64Encode(std::vector<std::uint8_t>{0xFB, 0xFF, 0xBF}), "+/+/");
  const std::string long_text = Base64Encode(std::vector<std::uint8_t>(300, 0x41));
  EXPECT_EQ(long_text.size(), 400u);
  EXPECT_EQ(long_text.find('\n'), std::string::npos);
}

TEST(Base64Test, DecodingStopsQuietlyAtTheFirstStranger) {
  EXPECT_EQ(Base64Decode(""), Bytes(""));
  EXPECT_EQ(Base64Decode("YWJj"), Bytes("abc"));
  EXPECT_EQ(Base64Decode("YWJj YWJj"), Bytes("abc"));
  EXPECT_EQ(Base64Decode("YWJj\nYWJj"), Bytes("abc"));
  EXPECT_EQ(Base64Decode("YQ"), Bytes("a"));
  EXPECT_EQ(Base64Decode("YWI"), Bytes("ab"));
  EXPECT_EQ(Base64Decode("Y"), Bytes(""));
  EXPECT_EQ(Base64Decode("YWJjY"), Bytes("abc"));
  EXPECT_EQ(Base64Decode("YQ==YWJj"), Bytes("a"));
  EXPECT_EQ(Base64Decode("=YWJj"), Bytes(""));
  EXPECT_EQ(Base64Decode(std::string("YW\0Jj", 5)), Bytes("a"));
  EXPECT_EQ(Base64Decode("\xC3YWJj"), Bytes(""));
}

TEST(Base64Test, RoundTripsEveryLengthAndByte) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes) << i;
    bytes.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  }
}

TEST(RequestBodyTest, FieldsJoinWithoutATrailingAmpersand) {
  RequestBody body;
  EXPECT_EQ(body.Finish(), "");
  body.AddField("a", "1");
  body.AddField("b", "2");
  EXPECT_EQ(body.Finish(), "a=1&b=2");
  EXPECT_EQ(body.Text(), "a=1&b=2&");  // finishing does not change the body
  EXPECT_EQ(body.Finish(), "a=1&b=2");
}

TEST(RequestBodyTest, TextIsAppendedUnchangedAndEmptyTextAddsNothing) {
  RequestBody body;
  body.AddField("a", "1");
  body.AddText("");
  body.AddText("s=7");
  EXPECT_EQ(body.Finish(), "a=1&s=7");
  body.AddText(std::string("x=%s%n\0y", 8));
  EXPECT_EQ(body.Finish(), std::string("a=1&s=7&x=%s%n\0y", 16));
}

TEST(RequestBodyTest, OperationResultsAreNumberedWithEscapedBrackets) {
  RequestBody body;
  const std::vector<std::uint8_t> status = {0x41, 0, 0, 0, 0, 0, 0};
  body.AddOperationResult(Bytes("ab"), "success", status);
  body.AddOperationResult({}, "disconnect");
  EXPECT_EQ(body.OperationCounter(), 2);
  // The leading status bytes come first: 41 00 00 00 00 00 00 61 62.
  EXPECT_EQ(body.Finish(),
            "opResponse%5b0%5d=QQAAAAAAAGFi&opStatus%5b0%5d=success"
            "&opResponse%5b1%5d=&opStatus%5b1%5d=disconnect");

  body.Reset();
  EXPECT_TRUE(body.Empty());
  EXPECT_EQ(body.OperationCounter(), 0);
  body.AddOperationResult(Bytes("a"), "fail");
  EXPECT_EQ(body.Finish(), "opResponse%5b0%5d=YQ%3d%3d&opStatus%5b0%5d=fail");
  body.Release();
  EXPECT_EQ(body.Finish(), "");
  EXPECT_EQ(body.OperationCounter(), 0);
}

TEST(ReportBodyTest, WarningsAreNumberedWithLiteralBracketsAndEscapedValues) {
  EXPECT_EQ(WarningsReportBody({}), "");
  EXPECT_EQ(WarningsReportBody({"invalid attribute value [method=\"x\"]", "b", "c d"}),
            "xml_parse_warning[0]=invalid%20attribute%20value%20%5bmethod%3d%22x%22%5d"
            "&xml_parse_warning[1]=b&xml_parse_warning[2]=c%20d");
}

TEST(ReportBodyTest, ErrorTextIsEscaped) {
  EXPECT_EQ(ErrorReportBody("expected <"), "xml_parse_error=expected%20%3c");
  EXPECT_EQ(ErrorReportBody("Invalid Pellux XML file"),
            "xml_parse_error=Invalid%20Pellux%20XML%20file");
}

}  // namespace
}  // namespace Pellux
