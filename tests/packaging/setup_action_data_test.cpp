#include "packaging/windows/setup_action_data.h"

#include <gtest/gtest.h>

#include <string>

namespace Pellux {
namespace {

std::string Refusal(std::string_view folder) {
  std::string why;
  EXPECT_FALSE(CheckedFolder(folder, why).has_value()) << folder;
  EXPECT_FALSE(why.empty()) << folder;
  return why;
}

std::string Accepted(std::string_view folder) {
  std::string why;
  const auto checked = CheckedFolder(folder, why);
  EXPECT_TRUE(checked.has_value()) << folder << ": " << why;
  return checked.value_or("");
}

TEST(SetupActionDataTest, TheVendorFolderIsWhatComesBeforeTheLastBar) {
  const auto both = SplitVendorCopyData("C:\\vendor|C:\\Program Files (x86)\\Pellux\\");
  ASSERT_TRUE(both);
  EXPECT_EQ(both->vendorFolder, "C:\\vendor");
  EXPECT_EQ(both->programFolder, "C:\\Program Files (x86)\\Pellux\\");
  const auto none = SplitVendorCopyData("|C:\\P\\");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->vendorFolder, "");
  EXPECT_EQ(none->programFolder, "C:\\P\\");
  // A VENDORDIR with bars of its own stays whole, and is refused as a folder name.
  const auto barred = SplitVendorCopyData("C:\\a|b||C:\\P\\");
  ASSERT_TRUE(barred);
  EXPECT_EQ(barred->vendorFolder, "C:\\a|b|");
  EXPECT_EQ(barred->programFolder, "C:\\P\\");
  std::string why;
  EXPECT_FALSE(CheckedFolder(barred->vendorFolder, why));
  EXPECT_FALSE(SplitVendorCopyData("C:\\vendor"));
  EXPECT_FALSE(SplitVendorCopyData(""));
}

TEST(SetupActionDataTest, AnAbsoluteFolderGetsOneBackslashAtItsEnd) {
  EXPECT_EQ(Accepted("C:\\vendor"), "C:\\vendor\\");
  EXPECT_EQ(Accepted("C:\\vendor\\\\"), "C:\\vendor\\");
  EXPECT_EQ(Accepted("c:/vendor/libs/"), "c:\\vendor\\libs\\");
  EXPECT_EQ(Accepted("D:\\"), "D:\\");
  EXPECT_EQ(Accepted("C:\\Program Files (x86)\\Pellux\\"), "C:\\Program Files (x86)\\Pellux\\");
  EXPECT_EQ(Accepted("\\\\server\\share"), "\\\\server\\share\\");
  EXPECT_EQ(Accepted("\\\\server\\share\\vendor\\"), "\\\\server\\share\\vendor\\");
  // Names as any user may give them: blanks, dots inside a name, letters of other scripts.
  EXPECT_EQ(Accepted("C:\\My Drivers\\v3.1 (2024)\\Bridge\xc3\xa9"),
            "C:\\My Drivers\\v3.1 (2024)\\Bridge\xc3\xa9\\");
}

TEST(SetupActionDataTest, AFolderThatIsNoAbsolutePathIsRefused) {
  EXPECT_EQ(Refusal(""), "no folder given");
  EXPECT_NE(Refusal("vendor").find("no absolute path"), std::string::npos);
  EXPECT_NE(Refusal(".\\vendor").find("no absolute path"), std::string::npos);
  EXPECT_NE(Refusal("\\vendor").find("no absolute path"), std::string::npos);
  EXPECT_NE(Refusal("C:vendor").find("no absolute path"), std::string::npos);
  EXPECT_NE(Refusal("1:\\vendor").find("no absolute path"), std::string::npos);
}

TEST(SetupActionDataTest, AFolderWithStepsOutOrDevicePathsIsRefused) {
  EXPECT_NE(Refusal("C:\\vendor\\..\\Windows").find("\"..\""), std::string::npos);
  EXPECT_NE(Refusal("C:\\vendor\\.\\x").find("\"..\""), std::string::npos);
  EXPECT_NE(Refusal("C:\\..").find("\"..\""), std::string::npos);
  EXPECT_NE(Refusal("C:\\a\\\\b").find("empty step"), std::string::npos);
  EXPECT_NE(Refusal("\\\\server").find("names no share"), std::string::npos);
  EXPECT_NE(Refusal("\\\\\\share").find("empty step"), std::string::npos);
  // The device and raw namespaces, a named pipe among them.
  Refusal("\\\\.\\pipe\\PelluxService");
  Refusal("\\\\?\\C:\\vendor");
  Refusal("\\\\.\\C:");
  // Streams and devices by colon.
  EXPECT_NE(Refusal("C:\\vendor:stream").find("':'"), std::string::npos);
  Refusal("C:\\vendor\\CON:");
}

TEST(SetupActionDataTest, AFolderWithCharactersNoPathMayHoldIsRefused) {
  // A quote would end the path on a command line; the rest are wildcards, redirections and
  // the action data's own separator.
  for (const char* folder :
       {"C:\\vendor\" & calc.exe & \"", "C:\\ven<dor", "C:\\ven>dor", "C:\\ven|dor", "C:\\ven?dor",
        "C:\\ven*", "C:\\ven\tdor", "C:\\vendor\r\nX"}) {
    EXPECT_EQ(Refusal(folder), "the folder name holds a character no Windows path may hold");
  }
  EXPECT_EQ(Refusal(std::string_view("C:\\ven\0dor", 10)),
            "the folder name holds a character no Windows path may hold");
}

TEST(SetupActionDataTest, AFolderTooLongForItsFilesIsRefusedAndShownCut) {
  const std::string longest = "C:\\" + std::string(197, 'a');
  EXPECT_EQ(Accepted(longest), longest + "\\");
  const std::string tooLong = "C:\\" + std::string(5000, 'a');
  const std::string why = Refusal(tooLong);
  EXPECT_NE(why.find("longer than 200 characters"), std::string::npos);
  EXPECT_LT(why.size(), 300U);
}

TEST(SetupActionDataTest, TheServiceIsRegisteredWithItsQuotedPath) {
  const std::string folder = "C:\\Program Files (x86)\\Pellux\\";
  EXPECT_EQ(ServiceProgramPath(folder), "C:\\Program Files (x86)\\Pellux\\uplinker.exe");
  EXPECT_EQ(ServiceImagePath(folder), "\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\"");
  EXPECT_EQ(ServiceSwitchCommand(folder, "/I"),
            "\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\" /I");
  EXPECT_TRUE(IsServiceImagePath("\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\"", folder));
  EXPECT_TRUE(IsServiceImagePath("\"c:\\PROGRAM FILES (X86)\\pellux\\UPLINKER.EXE\"", folder));
  // Unquoted, as a ServiceInstall row writes it under Wine, is not the service's own.
  EXPECT_FALSE(IsServiceImagePath("C:\\Program Files (x86)\\Pellux\\uplinker.exe", folder));
  EXPECT_FALSE(IsServiceImagePath("\"C:\\Program Files\\Pellux\\uplinker.exe\"", folder));
  EXPECT_FALSE(
      IsServiceImagePath("\"C:\\Program Files (x86)\\Pellux\\uplinker.exe\" /extra", folder));
  EXPECT_FALSE(IsServiceImagePath("", folder));
}

}  // namespace
}  // namespace Pellux
