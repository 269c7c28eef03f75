// A form's fields between the browser's encoding and the one the service posts.

#include <gtest/gtest.h>

#include "tools/pelluxctl/browser/form_fields.h"

namespace Pellux {
namespace {

TEST(FormFieldsTest, ReadsWhatBrowsersSend) {
  struct Case {
    const char* body;
    FormFields fields;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a=1", {{"a", "1"}}},
      {"name=Ann+Smith&mail=ann%2Bx%40example.org",
       {{"name", "Ann Smith"}, {"mail", "ann+x@example.org"}}},
      {"a=%e2%82%AC", {{"a", "\xe2\x82\xac"}}},
      {"a=&b", {{"a", ""}, {"b", ""}}},
      {"&&a=1&&", {{"a", "1"}}},
      {"a=b=c", {{"a", "b=c"}}},
      {"a=1&a=2", {{"a", "1"}, {"a", "2"}}},
      {"%00=%0d%0a", {{std::string(1, '\0'), "\r\n"}}},
      {"=v", {{"", "v"}}},
  };
  for (const Case& c : cases) {
    const auto fields = DecodeBrowserForm(c.body);
    ASSERT_TRUE(fields.has_value()) << c.body;
    EXPECT_EQ(*fields, c.fields) << c.body;
  }
}

TEST(FormFieldsTest, RefusesBrokenEscapesAndSaysWhere) {
  for (const char* body : {"a=%", "a=%4", "a=%zz", "a=%4g", "%=1", "a=1&b=%%41"}) {
    std::string why;
    EXPECT_FALSE(DecodeBrowserForm(body, &why).has_value()) << body;
    EXPECT_NE(why.find("'%' without two hex digits"), std::string::npos) << why;
  }
}

TEST(FormFieldsTest, EncodesAsTheServiceSendsAndReadsBackTheSame) {
  const FormFields fields = {{"name", "Ann Smith"},
                             {"mail", "ann+x@example.org"},
                             {"note[0]", "a&b=c;d/e-f_g.h~!*()'"},
                             {"euro", "\xe2\x82\xac"},
                             {"empty", ""},
                             {"", "nameless"}};
  const std::string encoded = EncodeFormFields(fields);
  EXPECT_EQ(encoded,
            "name=Ann%20Smith&mail=ann%2bx%40example%2eorg&note%5b0%5d=a%26b%3dc%3bd%2fe%2df%5fg%"
            "2eh~!*()'&euro=%e2%82%ac&empty=&=nameless");
  EXPECT_EQ(DecodeBrowserForm(encoded), fields);
  EXPECT_EQ(EncodeFormFields({}), "");
}

}  // namespace
}  // namespace Pellux
