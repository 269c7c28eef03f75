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

std::string PeHead(std::uint32_t offset, std::uint16_t machine, std::size_t size = 512) {
  std::string head(size, '\0');
  head[0] = 'M';
  head[1] = 'Z';
  for (int i = 0; i < 4; ++i) head[0x3C + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
  if (static_cast<std::size_t>(offset) + 6 <= size) {
    head.replace(offset, 4, std::string("PE\0\0", 4));
    head[offset + 4] = static_cast<char>(machine & 0xFF);
    head[offset + 5] = static_cast<char>(machine >> 8);
  }
  return head;
}

TEST(SetupActionDataTest, TheMachineOfALibraryIsReadFromItsImageHeader) {
  EXPECT_EQ(PortableExecutableMachine(PeHead(0x80, 0x014c)), 0x014c);
  EXPECT_EQ(PortableExecutableMachine(PeHead(0x100, 0x8664)), 0x8664);
  EXPECT_EQ(MachineName(0x014c), "i386");
  EXPECT_EQ(MachineName(0x8664), "x86-64");
  EXPECT_EQ(MachineName(0xaa64), "0xaa64");
}

TEST(SetupActionDataTest, AFileThatIsNoImageHasNoMachine) {
  EXPECT_FALSE(PortableExecutableMachine(""));
  EXPECT_FALSE(PortableExecutableMachine("MZ"));
  EXPECT_FALSE(PortableExecutableMachine(std::string(512, 'x')));
  EXPECT_FALSE(PortableExecutableMachine("#!/bin/sh\necho not a library\n"));
  // The header's offset past the bytes, at their very end, or far out of range.
  EXPECT_FALSE(PortableExecutableMachine(PeHead(510, 0x014c)));
  EXPECT_FALSE(PortableExecutableMachine(PeHead(512, 0x014c)));
  EXPECT_FALSE(PortableExecutableMachine(PeHead(0xFFFFFFFF, 0x014c)));
  EXPECT_FALSE(PortableExecutableMachine(PeHead(0xFFFFFFFC, 0x014c)));
  // "MZ" but no "PE\0\0" where the offset points.
  std::string head = PeHead(0x80, 0x014c);
  head[0x81] = 'X';
  EXPECT_FALSE(PortableExecutableMachine(head));
  // Cut before the machine field.
  EXPECT_FALSE(PortableExecutableMachine(PeHead(0x80, 0x014c).substr(0, 0x85)));
  EXPECT_EQ(PortableExecutableMachine(PeHead(0x80, 0x014c).substr(0, 0x86)), 0x014c);
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
