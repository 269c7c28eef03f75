#include "ui/system/os_release.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace Pellux {
namespace {

TEST(OsReleaseTest, ReadsAssignmentsAsTheShellWould) {
  struct Row {
    std::string text;
    std::optional<std::string> name;
  };
  const std::string kTooLong(OsRelease::kMaxValueBytes + 1, 'a');
  const std::vector<Row> rows = {
      {"NAME=\"Debian GNU/Linux\"\n", "Debian GNU/Linux"},
      {"NAME=Fedora", "Fedora"},
      {"NAME='single $quoted \\ text'", "single $quoted \\ text"},
      {R"(NAME="a \"b\" \$c \\ \`d")", "a \"b\" $c \\ `d"},
      {R"(NAME="keeps \n")", "keeps \\n"},
      {R"(NAME=un\ quoted)", "un quoted"},
      {"NAME=first second", "first"},
      {"NAME=\"two\nlines\"", "two\nlines"},
      {"NAME=\"joined\\\nline\"", "joinedline"},
      {"NAME=\"a\"'b'c", "abc"},
      {"  \tNAME=indented", "indented"},
      {"NAME=", ""},
      {"NAME=Debian\r\n", "Debian\r"},
      {"NAME=one\nNAME=two\n", "two"},
      {"# NAME=comment\n", std::nullopt},
      {"export NAME=x\n", std::nullopt},
      {"NAME = spaced\n", std::nullopt},
      {"1NAME=x\n", std::nullopt},
      {"NAME='unterminated\n", std::nullopt},
      {"NAME=\"unterminated\nNAME=next", "next"},
      {"NAME=trailing\\", "trailing"},
      {"NAME=" + kTooLong + "\nNAME=short", "short"},
      {"NAME=\"" + kTooLong + "\"", std::nullopt},
      {std::string("\0\xff\x01junk\nNAME=after\0junk", 23), std::string("after\0junk", 10)},
      {"X=" + std::string(OsRelease::kMaxTextBytes, 'x') + "\nNAME=late", std::nullopt},
      {std::string(), std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text.substr(0, 60));
    EXPECT_EQ(OsRelease::Parse(row.text).Get("NAME"), row.name);
  }
}

TEST(OsReleaseTest, KeepsEveryKeyAndSurvivesRandomBytes) {
  const OsRelease release =
      OsRelease::Parse("ID=debian\nVERSION_ID=\"12\"\n\nVERSION_CODENAME=bookworm");
  EXPECT_EQ(release.Size(), 3U);
  EXPECT_EQ(release.Get("VERSION_ID"), "12");
  EXPECT_EQ(release.Get("ID_LIKE"), std::nullopt);

  std::mt19937 random(20261209);
  const std::string alphabet = "AN_=\"'\\\n #\t$`x\r";
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 300, ' ');
    for (char& c : text) {
      c = round % 2 == 0 ? alphabet[random() % alphabet.size()] : static_cast<char>(random());
    }
    const OsRelease parsed = OsRelease::Parse(text);
    EXPECT_LE(parsed.Size(), text.size());
    EXPECT_LE(parsed.Get("NAME").value_or("").size(), text.size());
  }
}

}  // namespace
}  // namespace Pellux
