#include "ui/system/system_info_win.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/reported_lines.h"
#include "ui/system/os_description.h"

namespace Pellux {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char* kProductOptions = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

TEST(WinSystemInfoTest, DescribesThisMachine) {
  ReportedLines reported;
  const std::string description = GetOsDescription(reported.Reporter());
  std::cout << "This machine: " << description << "\n";
  EXPECT_THAT(description, StartsWith("Windows "));
  EXPECT_THAT(description, EndsWith(" NT"));
  // Under wine64 the machine is 64-bit whichever build asks.
  EXPECT_THAT(description, HasSubstr(" 64-bit "));
  EXPECT_THAT(reported.Take(), IsEmpty());

  const SystemRecords records = ReadSystemRecords(reported.Reporter());
  EXPECT_TRUE(records.versionRead);
  EXPECT_TRUE(records.extendedRead);
  EXPECT_EQ(records.version.platformId, 2U);
  EXPECT_GE(records.version.majorVersion, 5U);
  EXPECT_EQ(records.processorArchitecture, 9);
}

TEST(WinSystemInfoTest, AnswersFromThisMachinesRegistryAndKernel) {
  WinSystemQueries queries(HKEY_LOCAL_MACHINE, {});
  const std::optional<std::string> productType = queries.ProductOptionsType();
  ASSERT_TRUE(productType.has_value());
  EXPECT_THAT((std::vector<std::string>{"WinNT", "ServerNT", "LanManNT"}),
              ::testing::Contains(::testing::StrCaseEq(*productType)));
  EXPECT_TRUE(queries.ProductInfo(6, 1, 0, 0).has_value());
  EXPECT_EQ(queries.ServerR2Metric(), 0);
}

// Every test works below a key of its own under HKEY_CURRENT_USER, deleted afterwards, that
// stands for HKEY_LOCAL_MACHINE.
class WinSystemQueriesTest : public ::testing::Test {
 protected:
  WinSystemQueriesTest() {
    std::random_device random;
    path_ = "Software\\PelluxSystemInfoTest-" + std::to_string(random());
    RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &root_, nullptr);
  }
  ~WinSystemQueriesTest() override {
    RegCloseKey(root_);
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
  }

  void SetValue(const char* subKey, DWORD type, const std::string& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root_, subKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(key, "ProductType", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size())),
        ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::string path_;
  HKEY root_ = nullptr;
  ReportedLines reported_;
};

TEST_F(WinSystemQueriesTest, ReadsProductTypeTextsAndRefusesAnythingElse) {
  struct Row {
    const char* what;
    DWORD type;
    std::string bytes;
    std::optional<std::string> text;
    const char* report;
  };
  const std::vector<Row> rows = {
      {"a text", REG_SZ, std::string("ServerNT", 9), "ServerNT", nullptr},
      {"no terminating NUL", REG_SZ, "LanmanNT", "LanmanNT", nullptr},
      {"junk after the NUL", REG_EXPAND_SZ, std::string("WinNT\0junk", 10), "WinNT", nullptr},
      {"empty", REG_SZ, "", "", nullptr},
      {"79 bytes", REG_SZ, std::string(79, 'x'), std::string(79, 'x'), nullptr},
      {"80 bytes and the NUL", REG_SZ, std::string(80, 'x'), std::nullopt,
       "RegQueryValueExA(ProductType)"},
      {"a number", REG_DWORD, std::string("\1\0\0\0", 4), std::nullopt, "registry type 4"},
      {"binary", REG_BINARY, "\xff\xfe", std::nullopt, "registry type 3"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetValue(kProductOptions, row.type, row.bytes);
    WinSystemQueries queries(root_, reported_.Reporter());
    EXPECT_EQ(queries.ProductOptionsType(), row.text);
    const std::vector<std::string> lines = reported_.Take();
    if (row.report == nullptr) {
      EXPECT_THAT(lines, IsEmpty());
    } else {
      EXPECT_THAT(lines, ElementsAre(HasSubstr(row.report)));
    }
  }
}

TEST_F(WinSystemQueriesTest, MissingKeyIsReportedAndTheDetectionStops) {
  WinSystemQueries queries(root_, reported_.Reporter());
  SystemRecords records{
      .versionRead = true,
      .version = {.majorVersion = 5, .minorVersion = 2, .buildNumber = 3790, .platformId = 2}};
  EXPECT_EQ(SystemInfo(records, queries).Description(), "Windows Server 2003 5.2.3790  32-bit NT");
  EXPECT_THAT(reported_.Take(),
              ElementsAre(HasSubstr("RegOpenKeyExA(SYSTEM\\CurrentControlSet\\Control\\"
                                    "ProductOptions) failed: error 2")));

  SetValue(kProductOptions, REG_SZ, "SERVERNT");
  EXPECT_EQ(SystemInfo(records, queries).Description(),
            "Windows Server 2003 5.2.3790  (Build 3790) 32-bit NT");
  EXPECT_EQ(SystemInfo(records, queries).Edition(), 21);
}

TEST_F(WinSystemQueriesTest, HotfixKeyMakesServicePack6a) {
  WinSystemQueries queries(root_, reported_.Reporter());
  const SystemRecords records{.versionRead = true,
                              .extendedRead = true,
                              .version = {.majorVersion = 4,
                                          .buildNumber = 1381,
                                          .platformId = 2,
                                          .servicePack = "Service Pack 6",
                                          .productType = 1}};
  EXPECT_EQ(SystemInfo(records, queries).ServicePackText(), "Service Pack 6 (Build 1381)");
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExA(root_, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009", 0,
                      nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(SystemInfo(records, queries).ServicePackText(), "Service Pack 6a (Build 1381)");
  EXPECT_THAT(reported_.Take(), IsEmpty());
}

}  // namespace
}  // namespace Pellux
