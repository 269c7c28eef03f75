// The service's page as the frame shows it: every form sent back to pelluxctl, nothing else
// changed.

#include <gtest/gtest.h>

#include "tools/pelluxctl/browser/frame_document.h"

namespace Pellux {
namespace {

constexpr const char* kAction = "http://127.0.0.1:9/t/page/1/form";
const std::string kOurs = std::string(" action=\"") + kAction +
                          "\" method=\"post\" enctype=\"application/x-www-form-urlencoded\">";

TEST(FrameDocumentTest, EveryFormPostsToPelluxctlWithTheRestKept) {
  struct Case {
    const char* html;
    std::string frame;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"<p>no form</p>", "<p>no form</p>"},
      {"<form>a</form>", "<form" + kOurs + "a</form>"},
      {"<FORM>a</FORM>", "<form" + kOurs + "a</FORM>"},
      {"<form/>", "<form" + kOurs},
      {"<form a=b/>", "<form a=b/" + kOurs},
      {"<form id=x / >", "<form id=x" + kOurs},
      {"<form id=f class='x y'>", "<form id=f class='x y'" + kOurs},
      {"<form action=\"https://evil.example/\" method=get target=_top enctype=text/plain id=f>",
       "<form id=f" + kOurs},
      {"<form ACTION = 'x' Method=\"GET\">", "<form" + kOurs},
      {"<form title=\"a > b\" action=x>", "<form title=\"a > b\"" + kOurs},
      {"<form data-action=x>", "<form data-action=x" + kOurs},
      {"<form title= >", "<form title" + kOurs},
      {"<form a action='x'b=1>", "<form a b=1" + kOurs},
      {"<form a action='x'=b c>", "<form a c" + kOurs},
      {"<form a= b=c>", "<form a= b=c" + kOurs},
      {"<form\naction=x\n>", "<form" + kOurs},
      {"<form><form action=x>", "<form" + kOurs + "<form" + kOurs},
      {"<formation>", "<formation>"},
      {"<forms>", "<forms>"},
      {"a<b>c</b><form disabled>", "a<b>c</b><form disabled" + kOurs},
      // A tag that never ends is no form to a browser either.
      {"<form action='x", "<form action='x"},
      {"<form", "<form"},
      {"<form a=\"", "<form a=\""},
      {"<", "<"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FrameDocument(c.html, kAction), c.frame) << c.html;
  }
}

}  // namespace
}  // namespace Pellux
