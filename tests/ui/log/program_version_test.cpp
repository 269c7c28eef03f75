#include "ui/log/program_version.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "ui/log/program_version_win.h"
#endif

namespace Pellux {
namespace {

using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

TEST(ProgramVersionTest, ProgramReadsItsOwnVersionAsTheProjectsMajorMinorAndBuild) {
  const ProgramVersion version = ProgramVersion::OfThisProgram();
  EXPECT_EQ(version.text, PELLUX_EXPECTED_VERSION);
  EXPECT_THAT(version.failure, IsEmpty());
}

#ifdef _WIN32

TEST(ProgramVersionTest, FileWithoutAVersionGivesNoTextButTheSystemsWords) {
  const auto path = std::filesystem::temp_directory_path() / "pellux-no-version.txt";
  std::ofstream(path) << "MZ, but no program";
  for (const std::string& file : {path.string(), path.string() + ".missing"}) {
    const ProgramVersion version = ReadFileVersion(file);
    EXPECT_THAT(version.text, IsEmpty());
    EXPECT_THAT(version.failure,
                StartsWith("GetFileVersionInfoSizeA(" + file + ") failed: error "));
  }
  std::filesystem::remove(path);
  // Another program's resource reads the same way.
  std::array<char, MAX_PATH> system{};
  ASSERT_GT(GetSystemDirectoryA(system.data(), MAX_PATH), 0U);
  EXPECT_THAT(ReadFileVersion(std::string(system.data()) + "\\kernel32.dll").text,
              MatchesRegex("\\d+\\.\\d+\\.\\d+"));
}

#endif

}  // namespace
}  // namespace Pellux
