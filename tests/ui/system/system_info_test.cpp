#include "ui/system/system_info.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Pellux {
namespace {

// The answers a test system gives.
struct Answers {
  std::optional<std::uint32_t> productInfo = std::nullopt;
  std::optional<std::string> productOptions = std::nullopt;
  int serverR2 = 0;
  bool hotfix = false;
};

// Gives the answers and notes the questions asked, in order: "R2" (the metric), "PO"
// (ProductOptions), "HF" (the hotfix key), "PI" (GetProductInfo).
struct FixedQueries final : SystemQueries {
  explicit FixedQueries(Answers given) : answers(std::move(given)) {}

  void Ask(const char* question) {
    asked += asked.empty() ? question : std::string(",") + question;
  }
  int ServerR2Metric() override {
    Ask("R2");
    return answers.serverR2;
  }
  std::optional<std::string> ProductOptionsType() override {
    Ask("PO");
    return answers.productOptions;
  }
  bool HotfixQ246009Present() override {
    Ask("HF");
    return answers.hotfix;
  }
  std::optional<std::uint32_t> ProductInfo(std::uint32_t major, std::uint32_t minor,
                                           std::uint32_t spMajor, std::uint32_t spMinor) override {
    Ask("PI");
    productInfoArguments = {major, minor, spMajor, spMinor};
    return answers.productInfo;
  }

  Answers answers;
  std::string asked;
  std::vector<std::uint32_t> productInfoArguments;
};

constexpr std::uint8_t kWorkstation = 1;
constexpr std::uint8_t kServer = 3;
constexpr std::uint16_t kX64 = 9;

// An NT version as GetVersionExA reports it with the extended record.
SystemRecords Extended(std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                       const std::string& servicePack, std::uint8_t productType,
                       std::uint16_t suites = 0, std::uint16_t architecture = 0) {
  return {.versionRead = true,
          .extendedRead = true,
          .version = {.majorVersion = major,
                      .minorVersion = minor,
                      .buildNumber = build,
                      .platformId = 2,
                      .servicePack = servicePack,
                      .servicePackMajor = 1,
                      .suiteMask = suites,
                      .productType = productType},
          .processorArchitecture = architecture};
}

// The basic record only: no service pack numbers, suite mask or product type.
SystemRecords Basic(std::uint32_t platform, std::uint32_t major, std::uint32_t minor,
                    std::uint32_t build, const std::string& servicePack,
                    std::uint16_t architecture = 0) {
  return {.versionRead = true,
          .version = {.majorVersion = major,
                      .minorVersion = minor,
                      .buildNumber = build,
                      .platformId = platform,
                      .servicePack = servicePack},
          .processorArchitecture = architecture};
}

struct Row {
  const char* system;
  SystemRecords records;
  Answers answers;
  int edition;
  std::string description;
  const char* asked;
};

const auto kNone = std::nullopt;
const std::string kLong = std::string(200, 'x');

TEST(SystemInfoTest, ClassifiesEveryEditionByTheTables) {
  const std::vector<Row> rows = {
      {"7 Home Premium", Extended(6, 1, 7601, "Service Pack 1", kWorkstation, 0x200),
       Answers{.productInfo = 3}, 62, "Windows 7 6.1.7601 Service Pack 1 (Build 7601) 32-bit NT",
       "PI"},
      {"7 Home Premium x64", Extended(6, 1, 7601, "", kWorkstation, 0x200, kX64),
       Answers{.productInfo = 3}, 62, "Windows 7 6.1.7601  (Build 7601) 64-bit NT", "PI"},
      {"7 x64 unlicensed", Extended(6, 1, 7600, "", kWorkstation, 0, kX64),
       Answers{.productInfo = 0xABCDABCD}, 56, "Windows 7 6.1.7600  (Build 7600) 64-bit NT", "PI"},
      {"7 Professional", Extended(6, 1, 7600, "", kWorkstation, 0x100), Answers{.productInfo = 16},
       58, "Windows 7 6.1.7600  (Build 7600) 32-bit NT", "PI"},
      {"Vista Home Premium", Extended(6, 0, 6002, "Service Pack 2", kWorkstation, 0x200),
       Answers{.productInfo = 3}, 38,
       "Windows Vista 6.0.6002 Service Pack 2 (Build 6002) 32-bit NT", "PI"},
      {"Vista unlicensed", Extended(6, 0, 6000, "", kWorkstation, 0x200),
       Answers{.productInfo = 0xABCDABCD}, 32, "Windows Vista 6.0.6000  (Build 6000) 32-bit NT",
       "PI"},
      {"Vista Ultimate", Extended(6, 0, 6000, "", kWorkstation), Answers{.productInfo = 1}, 33,
       "Windows Vista 6.0.6000  (Build 6000) 32-bit NT", "PI"},
      {"Vista, undefined product", Extended(6, 0, 6000, "", kWorkstation),
       Answers{.productInfo = 0}, 31, "Windows Vista 6.0.6000  (Build 6000) 32-bit NT", "PI"},
      {"Vista, no product", Extended(6, 0, 6000, "", kWorkstation), Answers{}, 31,
       "Windows Vista 6.0.6000  (Build 6000) 32-bit NT", "PI"},
      {"2008 R2, type 7", Extended(6, 1, 7601, "Service Pack 1", kServer, 0, kX64),
       Answers{.productInfo = 7}, 51,
       "Windows Server 2008 6.1.7601 Service Pack 1 (Build 7601) 64-bit NT", "PI"},
      {"2008 R2, unlisted", Extended(6, 1, 7601, "", kServer, 0x2, kX64),
       Answers{.productInfo = 0x2A}, 10, "Windows NT 4.0 6.1.7601  (Build 7601) 64-bit NT", "PI"},
      {"2008 R2 basic ServerNT", Basic(2, 6, 1, 7600, "", kX64),
       Answers{.productInfo = 0x2A, .productOptions = "ServerNT"}, 53,
       "Windows Server 2008 R2 6.1.7600  (Build 7600) 64-bit NT", "PO,PI"},
      {"2008 R2 basic, type 7", Basic(2, 6, 1, 7600, "", kX64),
       Answers{.productInfo = 7, .productOptions = "LanmanNT"}, 51,
       "Windows Server 2008 6.1.7600  (Build 7600) 64-bit NT", "PO,PI"},
      {"2008 R2 basic, no text", Basic(2, 6, 1, 7600, "SP1", kX64), Answers{.productInfo = 7}, 53,
       "Windows Server 2008 R2 6.1.7600  64-bit NT", "PO"},
      {"2008 Datacenter", Extended(6, 0, 6001, "", kServer, 0x80), Answers{.productInfo = 8}, 48,
       "Windows Server 2008 6.0.6001  (Build 6001) 32-bit NT", "PI"},
      {"2008 Enterprise", Extended(6, 0, 6001, "", kServer, 0x2), Answers{}, 42,
       "Windows Server 2008 6.0.6001  (Build 6001) 32-bit NT", "PI"},
      {"2008 unlicensed", Extended(6, 0, 6001, "", 2, 0x80), Answers{.productInfo = 0xABCDABCD}, 41,
       "Windows Server 2008 6.0.6001  (Build 6001) 32-bit NT", "PI"},
      {"2003 R2", Extended(5, 2, 3790, "Service Pack 2", kServer), Answers{.serverR2 = 1}, 20,
       "Windows Server 2003 5.2.3790 Service Pack 2 (Build 3790) 32-bit NT", "R2"},
      {"2003 R2 basic, no text", Basic(2, 5, 2, 3790, ""), Answers{.serverR2 = 1}, 30,
       "Windows Server 2003 R2 5.2.3790  32-bit NT", "R2,PO"},
      {"2003 basic ServerNT", Basic(2, 5, 2, 3790, ""), Answers{.productOptions = "SERVERNT"}, 21,
       "Windows Server 2003 5.2.3790  (Build 3790) 32-bit NT", "R2,PO"},
      {"Home Server", Extended(5, 2, 3790, "", kServer, 0x8000), Answers{}, 20,
       "Windows Server 2003 5.2.3790  (Build 3790) 32-bit NT", ""},
      {"Home Server workstation", Extended(5, 2, 3790, "", kWorkstation, 0x8000), Answers{}, 54,
       "Windows Home Server 5.2.3790  (Build 3790) 32-bit NT", ""},
      {"2003 Itanium Datacenter", Extended(5, 2, 3790, "", kServer, 0x80, 6), Answers{}, 26,
       "Windows Server 2003 for Itanium64 5.2.3790  (Build 3790) 64-bit NT", "R2"},
      {"2003 AMD64 Enterprise", Extended(5, 2, 3790, "", kServer, 0x2, kX64), Answers{}, 28,
       "Windows Server 2003 for AMD64 5.2.3790  (Build 3790) 64-bit NT", "R2"},
      {"2003 AMD64", Extended(5, 2, 3790, "", 2, 0, kX64), Answers{}, 27,
       "Windows Server 2003 for AMD64 5.2.3790  (Build 3790) 64-bit NT", "R2"},
      {"2003 Web (blade)", Extended(5, 2, 3790, "", kServer, 0x400), Answers{}, 23,
       "Windows Server 2003 5.2.3790  (Build 3790) 32-bit NT", "R2"},
      {"2003 blade+enterprise", Extended(5, 2, 3790, "", kServer, 0x402), Answers{}, 21,
       "Windows Server 2003 5.2.3790  (Build 3790) 32-bit NT", "R2"},
      {"2003 Datacenter", Extended(5, 2, 3790, "", kServer, 0x80), Answers{}, 22,
       "Windows Server 2003 5.2.3790  (Build 3790) 32-bit NT", "R2"},
      {"XP x64", Extended(5, 2, 3790, "Service Pack 2", kWorkstation, 0, kX64), Answers{}, 19,
       "Windows XP x64 5.2.3790 Service Pack 2 (Build 3790) 64-bit NT", ""},
      {"XP SP3", Extended(5, 1, 2600, "Service Pack 3", kWorkstation, 0x100), Answers{}, 18,
       "Windows XP 5.1.2600 Service Pack 3 (Build 2600) 32-bit NT", ""},
      {"XP Home", Extended(5, 1, 2600, "", kWorkstation, 0x200), Answers{}, 17,
       "Windows XP 5.1.2600  (Build 2600) 32-bit NT", ""},
      {"2000 Professional", Extended(5, 0, 2195, "Service Pack 4", kWorkstation), Answers{}, 12,
       "Windows 2000 5.0.2195 Service Pack 4 (Build 2195) 32-bit NT", ""},
      {"2000 Datacenter", Extended(5, 0, 2195, "", kServer, 0x80), Answers{}, 14,
       "Windows 2000 5.0.2195  (Build 2195) 32-bit NT", ""},
      {"2000 Advanced", Extended(5, 0, 2195, "", kServer, 0x2), Answers{}, 15,
       "Windows 2000 5.0.2195  (Build 2195) 32-bit NT", ""},
      {"2000 Server", Extended(5, 0, 2195, "", kServer), Answers{}, 13,
       "Windows 2000 5.0.2195  (Build 2195) 32-bit NT", ""},
      {"2000 basic LanmanNT", Basic(2, 5, 0, 2195, ""), Answers{.productOptions = "lanmannt"}, 13,
       "Windows 2000 5.0.2195  (Build 2195) 32-bit NT", "PO"},
      {"NT4 SP6a", Extended(4, 0, 1381, "Service Pack 6", kWorkstation), Answers{.hotfix = true}, 8,
       "Windows NT 4.0 4.0.1381 Service Pack 6a (Build 1381) 32-bit NT", "HF"},
      {"NT4 SP6", Extended(4, 0, 1381, "Service Pack 6", kWorkstation), Answers{}, 8,
       "Windows NT 4.0 4.0.1381 Service Pack 6 (Build 1381) 32-bit NT", "HF"},
      {"NT4 server basic", Basic(2, 4, 0, 1381, "Service Pack 5"),
       Answers{.productOptions = "ServerNT"}, 10,
       "Windows NT 4.0 4.0.1381 Service Pack 5 (Build 1381) 32-bit NT", "PO"},
      {"NT4 basic WinNT", Basic(2, 4, 0, 1381, "Service Pack 6"),
       Answers{.productOptions = "WinNT", .hotfix = true}, 8,
       "Windows NT 4.0 4.0.1381 Service Pack 6a (Build 1381) 32-bit NT", "PO,HF"},
      {"NT4 basic, junk text", Basic(2, 4, 0, 1381, ""), Answers{.productOptions = "\x01\xff junk"},
       6, "Windows Unknown 4.0.1381  (Build 1381) 32-bit NT", "PO"},
      {"NT4 text ends at NUL", Basic(2, 4, 0, 1381, ""),
       Answers{.productOptions = std::string("WinNT\0x", 7)}, 8,
       "Windows NT 4.0 4.0.1381  (Build 1381) 32-bit NT", "PO"},
      {"NT 3.51", Extended(3, 51, 1057, "", kWorkstation), Answers{}, 6,
       "Windows Unknown 3.51.1057  (Build 1057) 32-bit NT", ""},
      {"10 as told to us", Extended(6, 2, 9200, "", kWorkstation, 0x100, kX64),
       Answers{.productInfo = 0x30}, 0, "Windows Unknown 6.2.9200  (Build 9200) 64-bit NT", "PI"},
      {"10 as Ultimate", Extended(6, 2, 9200, "", kWorkstation, 0x100, kX64),
       Answers{.productInfo = 1}, 57, "Windows 7 6.2.9200  (Build 9200) 64-bit NT", "PI"},
      {"long service pack", Extended(5, 1, 0x0A280A28, kLong, kWorkstation), Answers{}, 18,
       "Windows XP 5.1.170396200 " + kLong.substr(0, 127) + " 32-bit NT", ""},
      {"95", Basic(1, 4, 0, 0x040003B6, ""), Answers{}, 1,
       "Windows 95  4.0.67109814  32-bit Windows", ""},
      {"95 OSR2", Basic(1, 4, 0, 0x04000457, " B"), Answers{}, 2,
       "Windows 95  4.0.67109975  32-bit Windows", ""},
      {"95 OSR2.5", Basic(1, 4, 0, 0x04000457, " C"), Answers{}, 2,
       "Windows 95  4.0.67109975  32-bit Windows", ""},
      {"95, one-character text", Basic(1, 4, 0, 950, "C"), Answers{}, 1,
       "Windows 95  4.0.950  32-bit Windows", ""},
      {"98", Basic(1, 4, 10, 1998, " "), Answers{}, 3, "Windows 98 4.10.1998  32-bit Windows", ""},
      {"98 SE", Basic(1, 4, 10, 2222, " A "), Answers{}, 4, "Windows 98 4.10.2222  32-bit Windows",
       ""},
      {"Millennium", Basic(1, 4, 90, 3000, ""), Answers{}, 5,
       "Windows Millennium 4.90.3000  32-bit Windows", ""},
      {"Win32s", Basic(0, 3, 10, 0, ""), Answers{}, 64, "Windows 32s 3.10.0  32-bit Win32s", ""},
      {"CE", Basic(3, 5, 0, 1, ""), Answers{}, 0,
       "Windows Unknown 5.0.1  32-bit (unknown platform)", ""},
      {"unreadable", SystemRecords{.version = {}, .processorArchitecture = kX64},
       Answers{.productInfo = 7}, 0, "Windows Unknown 0.0.0  64-bit (unknown platform)", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.system);
    FixedQueries queries(row.answers);
    const SystemInfo info(row.records, queries);
    EXPECT_EQ(info.Edition(), row.edition);
    EXPECT_EQ(info.Description(), row.description);
    EXPECT_EQ(queries.asked, row.asked);
  }
}

TEST(SystemInfoTest, AsksProductInfoWithTheVersionAndServicePack) {
  FixedQueries answers(Answers{.productInfo = 3});
  SystemRecords records = Extended(6, 1, 7601, "Service Pack 1", kWorkstation);
  records.version.servicePackMinor = 2;
  EXPECT_EQ(SystemInfo(records, answers).ServicePackText(), "Service Pack 1 (Build 7601)");
  EXPECT_EQ(answers.productInfoArguments, (std::vector<std::uint32_t>{6, 1, 1, 2}));
}

TEST(SystemInfoTest, NamesEveryRangeOfEditionCodes) {
  const std::vector<std::pair<int, std::string>> rows = {{-1, "Windows Unknown"},
                                                         {0, "Windows Unknown"},
                                                         {1, "Windows 95 "},
                                                         {2, "Windows 95 "},
                                                         {3, "Windows 98"},
                                                         {4, "Windows 98"},
                                                         {5, "Windows Millennium"},
                                                         {6, "Windows Unknown"},
                                                         {7, "Windows NT 3.51"},
                                                         {8, "Windows NT 4.0"},
                                                         {10, "Windows NT 4.0"},
                                                         {11, "Windows Unknown"},
                                                         {12, "Windows 2000"},
                                                         {15, "Windows 2000"},
                                                         {16, "Windows XP"},
                                                         {18, "Windows XP"},
                                                         {19, "Windows XP x64"},
                                                         {20, "Windows Server 2003"},
                                                         {23, "Windows Server 2003"},
                                                         {24, "Windows Server 2003 for Itanium64"},
                                                         {26, "Windows Server 2003 for Itanium64"},
                                                         {27, "Windows Server 2003 for AMD64"},
                                                         {29, "Windows Server 2003 for AMD64"},
                                                         {30, "Windows Server 2003 R2"},
                                                         {31, "Windows Vista"},
                                                         {39, "Windows Vista"},
                                                         {40, "Windows Server 2008"},
                                                         {52, "Windows Server 2008"},
                                                         {53, "Windows Server 2008 R2"},
                                                         {54, "Windows Home Server"},
                                                         {55, "Windows 7"},
                                                         {63, "Windows 7"},
                                                         {64, "Windows 32s"},
                                                         {65, "Windows Unknown"}};
  for (const auto& [edition, name] : rows)
    EXPECT_EQ(SystemInfo::FamilyName(edition), name) << edition;
}

}  // namespace
}  // namespace Pellux
