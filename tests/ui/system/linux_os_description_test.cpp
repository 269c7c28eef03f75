#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/reported_lines.h"
#include "ui/system/os_description.h"
#include "ui/system/os_description_linux.h"

namespace Pellux {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

const std::string kDebian =
    "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
    "VERSION_ID=\"12\"\nVERSION=\"12 (bookworm)\"\nVERSION_CODENAME=bookworm\nID=debian\n";

TEST(LinuxOsDescriptionTest, DescribesTheDistributionAndTheKernelInSixFields) {
  struct Row {
    const char* what;
    std::string osRelease;
    KernelIdentity kernel;
    std::string description;
  };
  std::string wide;
  for (int count = 0; count < 200; ++count) wide += "\u00e9";  // two bytes each
  const std::vector<Row> rows = {
      {"Debian",
       kDebian,
       {"6.1.0-18-amd64", "x86_64"},
       "Debian GNU/Linux 12 6.1.0 (bookworm) 64-bit Linux"},
      {"rolling release",
       "NAME=\"Arch Linux\"\nBUILD_ID=rolling",
       {"6.8.1-arch1-1", "x86_64"},
       "Arch Linux 6.8.1  64-bit Linux"},
      {"pretty name only",
       "PRETTY_NAME='Ubuntu 22.04.4 LTS'\nVERSION_ID=22.04",
       {"5.15", "armv7l"},
       "Ubuntu 22.04.4 LTS 5.15.0  32-bit Linux"},
      {"version only", "VERSION_ID=3.19", {"6.6.1", "aarch64"}, "Linux 3.19 6.6.1  64-bit Linux"},
      {"empty", "", {"", ""}, "Linux 0.0.0  32-bit Linux"},
      {"control characters",
       "NAME=\"Evil\nName\t\x01\"\nVERSION_CODENAME=\"a\rb\"\r\n",
       {"6.1", "i686"},
       "Evil Name 6.1.0 (a b) 32-bit Linux"},
      {"blank values",
       "NAME=\"  \"\nPRETTY_NAME=' '\nVERSION_CODENAME=\"\"",
       {"4", "s390x"},
       "Linux 4.0.0  64-bit Linux"},
      {"binary junk",
       std::string("\x7f"
                   "ELF\x02\x01\x01\0\0NAME\0=\xff",
                   16),
       {"x", "mips"},
       "Linux 0.0.0  32-bit Linux"},
      {"long name",
       "NAME=" + std::string(200, 'n') + " 1",
       {"6.1.0", "x86_64"},
       std::string(127, 'n') + " 6.1.0  64-bit Linux"},
      {"long name of two-byte characters",
       "NAME=" + wide,
       {"6.1.0", "x86_64"},
       wide.substr(0, 126) + " 6.1.0  64-bit Linux"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(LinuxSystemInfo(OsRelease::Parse(row.osRelease), row.kernel).Description(),
              row.description);
  }
}

TEST(LinuxOsDescriptionTest, ReadsKernelNumbersAndMachinesLeniently) {
  const std::vector<std::pair<std::string, std::array<int, 3>>> releases = {
      {"6.1.0-18-amd64", {6, 1, 0}},
      {"3.10.0-1160.el7.x86_64", {3, 10, 0}},
      {"5.15", {5, 15, 0}},
      {"4", {4, 0, 0}},
      {"6.1.0.5", {6, 1, 0}},
      {"6.x.2", {6, 0, 0}},
      {"", {0, 0, 0}},
      {"abc", {0, 0, 0}},
      {"99999999999.2.3", {INT_MAX, 2, 3}},
      {"..7", {0, 0, 7}}};
  for (const auto& [release, numbers] : releases) {
    EXPECT_EQ(LinuxSystemInfo::ParseKernelRelease(release), numbers) << release;
  }
  const std::vector<std::pair<std::string, bool>> machines = {
      {"x86_64", true}, {"aarch64", true}, {"ppc64le", true}, {"riscv64", true}, {"s390x", true},
      {"alpha", true},  {"i686", false},   {"armv7l", false}, {"mips", false},   {"", false}};
  for (const auto& [machine, is64Bit] : machines) {
    EXPECT_EQ(LinuxSystemInfo::IsMachine64Bit(machine), is64Bit) << machine;
  }
}

// Every test reads files from a folder of its own, removed afterwards.
class OsReleaseFileTest : public ::testing::Test {
 protected:
  OsReleaseFileTest() { std::filesystem::create_directories(folder_); }
  ~OsReleaseFileTest() override { std::filesystem::remove_all(folder_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(folder_ / name, std::ios::binary) << text;
    return (folder_ / name).string();
  }
  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  const std::filesystem::path folder_ =
      std::filesystem::temp_directory_path() / ("pellux-os-release-" + std::to_string(getpid()));
  ReportedLines reported_;
};

TEST_F(OsReleaseFileTest, FallsBackToTheSecondFileWhenTheFirstIsMissing) {
  const std::string second = Write("usr-lib", kDebian);
  EXPECT_EQ(ReadOsReleaseText({Path("missing"), second}, reported_.Reporter()), kDebian);
  EXPECT_EQ(ReadOsReleaseText({Write("etc", "NAME=x"), second}, reported_.Reporter()), "NAME=x");
  EXPECT_EQ(ReadOsReleaseText({Path("missing"), Path("gone")}, reported_.Reporter()), std::nullopt);
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

TEST_F(OsReleaseFileTest, SkipsWhatIsNoRegularFileWithoutWaitingOnIt) {
  std::filesystem::create_directory(Path("folder"));
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  const std::string last = Write("last", "NAME=last");
  EXPECT_EQ(ReadOsReleaseText({Path("folder"), Path("fifo"), last}, reported_.Reporter()),
            "NAME=last");
  EXPECT_THAT(reported_.Take(), ElementsAre(HasSubstr("folder is not a regular file"),
                                            HasSubstr("fifo is not a regular file")));
}

TEST_F(OsReleaseFileTest, ReadsOnlyTheStartOfAHugeFile) {
  const std::string huge = Write("huge", std::string(1 << 20, '#'));
  EXPECT_EQ(ReadOsReleaseText({huge}, reported_.Reporter())->size(), OsRelease::kMaxTextBytes);
}

TEST(LinuxOsDescriptionTest, DescribesThisMachine) {
  ReportedLines reported;
  const std::string description = GetOsDescription(reported.Reporter());
  std::cout << "This machine: " << description << "\n";
  EXPECT_THAT(description, MatchesRegex(".+ [0-9]+\\.[0-9]+\\.[0-9]+ .* (32|64)-bit Linux"));
  EXPECT_THAT(reported.Take(), IsEmpty());
}

}  // namespace
}  // namespace Pellux
