#include "ui/system/system_info.h"

#include <algorithm>
#include <array>
#include <boost/format.hpp>
#include <cctype>
#include <string_view>

namespace Pellux {
namespace {

// Platform ids of the version record.
constexpr std::uint32_t kPlatformWin32s = 0;
constexpr std::uint32_t kPlatformWindows9x = 1;
constexpr std::uint32_t kPlatformNt = 2;

// Product types of the extended record.
constexpr std::uint8_t kWorkstation = 1;
constexpr std::uint8_t kDomainController = 2;
constexpr std::uint8_t kServer = 3;

// Suite mask bits.
constexpr std::uint16_t kSuiteEnterprise = 0x0002;
constexpr std::uint16_t kSuiteDatacenter = 0x0080;
constexpr std::uint16_t kSuitePersonal = 0x0200;
constexpr std::uint16_t kSuiteBlade = 0x0400;
constexpr std::uint16_t kSuiteHomeServer = 0x8000;

// Processor architectures of the native system information.
constexpr std::uint16_t kArchitectureItanium = 6;
constexpr std::uint16_t kArchitectureAlpha64 = 7;
constexpr std::uint16_t kArchitectureX64 = 9;

// GetProductInfo's product types and the editions they give; `newer` adds 24 when the minor
// version is not 0, which turns a Vista edition into the Windows 7 one.
struct ProductRow {
  std::uint32_t productType;
  int edition;
  bool newer;
};
constexpr auto kProductRows = std::to_array<ProductRow>({
    {1, 33, true},
    {2, 37, true},
    {3, 38, true},
    {4, 35, true},
    {5, 37, true},
    {6, 34, true},
    {7, 51, false},
    {8, 48, false},
    {10, 44, false},
    {11, 39, true},
    {12, 47, false},
    {13, 50, false},
    {14, 43, false},
    {15, 45, false},
    {16, 34, true},
    {17, 52, false},
});

// The family name of each range of edition codes; codes in no range (0, 6 and 11 among them)
// are "Windows Unknown".
struct FamilyRow {
  int first;
  int last;
  const char* name;
};
constexpr auto kFamilies = std::to_array<FamilyRow>({
    {1, 2, "Windows 95 "},  // the trailing blank is the system's own
    {3, 4, "Windows 98"},
    {5, 5, "Windows Millennium"},
    {7, 7, "Windows NT 3.51"},
    {8, 10, "Windows NT 4.0"},
    {12, 15, "Windows 2000"},
    {16, 18, "Windows XP"},
    {19, 19, "Windows XP x64"},
    {20, 23, "Windows Server 2003"},
    {24, 26, "Windows Server 2003 for Itanium64"},
    {27, 29, "Windows Server 2003 for AMD64"},
    {30, 30, "Windows Server 2003 R2"},
    {31, 39, "Windows Vista"},
    {40, 52, "Windows Server 2008"},
    {53, 53, "Windows Server 2008 R2"},
    {54, 54, "Windows Home Server"},
    {55, 63, "Windows 7"},
    {64, 64, "Windows 32s"},
});

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
  return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) ==
           std::toupper(static_cast<unsigned char>(b));
  });
}

// Picks the edition by the datacenter bit, then the enterprise bit, else the plain one.
int BySuite(std::uint16_t suiteMask, int datacenter, int enterprise, int plain) {
  if ((suiteMask & kSuiteDatacenter) != 0) return datacenter;
  if ((suiteMask & kSuiteEnterprise) != 0) return enterprise;
  return plain;
}

}  // namespace

SystemInfo::SystemInfo(const SystemRecords& records, SystemQueries& queries) : records_(records) {
  Detect(queries);
}

SystemInfo::~SystemInfo() = default;

bool SystemInfo::Is64Bit() const {
  return Is64BitArchitecture(records_.processorArchitecture);
}

bool SystemInfo::Is64BitArchitecture(std::uint16_t architecture) {
  return architecture == kArchitectureItanium || architecture == kArchitectureAlpha64 ||
         architecture == kArchitectureX64;
}

std::string SystemInfo::FamilyName(int edition) {
  for (const FamilyRow& row : kFamilies) {
    if (edition >= row.first && edition <= row.last) return row.name;
  }
  return "Windows Unknown";
}

std::string SystemInfo::Description() const {
  const WindowsVersionRecord& version = records_.version;
  const char* platform = "(unknown platform)";
  // A record that could not be read says nothing of the platform, though its id is 0.
  if (records_.versionRead) {
    if (version.platformId == kPlatformNt) platform = "NT";
    if (version.platformId == kPlatformWindows9x) platform = "Windows";
    if (version.platformId == kPlatformWin32s) platform = "Win32s";
  }
  return (boost::format("%s %d.%d.%d %s %s %s") % FamilyName(edition_) % version.majorVersion %
          version.minorVersion % version.buildNumber % servicePackText_ %
          (Is64Bit() ? "64-bit" : "32-bit") % platform)
      .str();
}

void SystemInfo::Detect(SystemQueries& queries) {
  if (!records_.versionRead) return;
  switch (records_.version.platformId) {
    case kPlatformWin32s:
      edition_ = 64;
      break;
    case kPlatformWindows9x:
      ClassifyWindows9x();
      break;
    case kPlatformNt:
      ClassifyNtVersion(queries);
      if (records_.extendedRead) {
        RefineFromExtendedRecord();
      } else if (!RefineFromProductOptions(queries)) {
        return;
      }
      FormatServicePack(queries);
      break;
    default:
      break;
  }
  if (records_.version.majorVersion >= 6) RefineFromProductInfo(queries);
}

void SystemInfo::ClassifyWindows9x() {
  const WindowsVersionRecord& version = records_.version;
  if (version.majorVersion != 4) return;
  // The second character of the service pack text names the release: " C", " B" or " A".
  const char release = version.servicePack.size() > 1 ? version.servicePack[1] : '\0';
  if (version.minorVersion == 0) edition_ = (release == 'C' || release == 'B') ? 2 : 1;
  if (version.minorVersion == 10) edition_ = release == 'A' ? 4 : 3;
  if (version.minorVersion == 90) edition_ = 5;
}

void SystemInfo::ClassifyNtVersion(SystemQueries& queries) {
  const WindowsVersionRecord& version = records_.version;
  const bool workstation = version.productType == kWorkstation;
  const std::uint32_t major = version.majorVersion;
  const std::uint32_t minor = version.minorVersion;
  if (major == 6 && minor == 0) {
    edition_ = workstation ? 31 : 40;
  } else if (major == 6 && minor == 1) {
    edition_ = workstation ? 55 : 53;
  } else if (major == 5 && minor == 2) {
    if (version.suiteMask == kSuiteHomeServer) {
      edition_ = 54;
    } else if (workstation && records_.processorArchitecture == kArchitectureX64) {
      edition_ = 19;
    } else {
      edition_ = queries.ServerR2Metric() != 0 ? 30 : 20;
    }
  } else if (major == 5 && minor == 1) {
    edition_ = 16;
  } else if (major == 5 && minor == 0) {
    edition_ = 11;
  } else if (major <= 4) {
    edition_ = 6;
  }
}

void SystemInfo::RefineFromExtendedRecord() {
  const WindowsVersionRecord& version = records_.version;
  const std::uint32_t major = version.majorVersion;
  const std::uint32_t minor = version.minorVersion;
  const std::uint16_t suites = version.suiteMask;
  const std::uint16_t architecture = records_.processorArchitecture;
  if (version.productType == kWorkstation && architecture != kArchitectureX64) {
    const bool personal = (suites & kSuitePersonal) != 0;
    if (major == 4) edition_ = 8;
    if (major == 5 && !personal && minor == 1) edition_ = 18;
    if (major == 5 && !personal && minor == 0) edition_ = 12;
    if (major == 5 && personal && minor == 1) edition_ = 17;
    if (major == 6 && personal) edition_ = 36;
  } else if (version.productType == kDomainController || version.productType == kServer) {
    if (major == 6 && minor == 0) {
      edition_ = BySuite(suites, 46, 42, 40);
    } else if (major == 5 && minor == 2) {
      if (architecture == kArchitectureItanium) {
        edition_ = BySuite(suites, 26, 25, 24);
      } else if (architecture == kArchitectureX64) {
        edition_ = BySuite(suites, 29, 28, 27);
      } else {
        edition_ = BySuite(suites, 22, 21, suites == kSuiteBlade ? 23 : 20);
      }
    } else if (major == 5 && minor == 0) {
      edition_ = BySuite(suites, 14, 15, 13);
    } else {
      edition_ = (suites & kSuiteEnterprise) != 0 ? 10 : 9;
    }
  }
}

bool SystemInfo::RefineFromProductOptions(SystemQueries& queries) {
  const std::optional<std::string> productType = queries.ProductOptionsType();
  if (!productType) return false;
  // The registry's text may carry junk after its terminating NUL; it ends there.
  const std::string_view name(productType->c_str());
  const std::uint32_t major = records_.version.majorVersion;
  const std::uint32_t minor = records_.version.minorVersion;
  const auto byVersion = [&](int on52, int on50, int on4) {
    if (major == 5 && minor == 2) edition_ = on52;
    if (major == 5 && minor == 0) edition_ = on50;
    if (major <= 4) edition_ = on4;
  };
  if (EqualsIgnoringCase(name, "WINNT")) {
    if (major <= 4) edition_ = 8;
  } else if (EqualsIgnoringCase(name, "LANMANNT")) {
    byVersion(20, 13, 9);
  } else if (EqualsIgnoringCase(name, "SERVERNT")) {
    byVersion(21, 15, 10);
  }
  return true;
}

void SystemInfo::FormatServicePack(SystemQueries& queries) {
  const WindowsVersionRecord& version = records_.version;
  const std::uint32_t build = version.buildNumber & 0xFFFF;
  const std::string_view servicePack(version.servicePack.c_str());
  if (version.majorVersion == 4 && servicePack == "Service Pack 6" &&
      queries.HotfixQ246009Present()) {
    servicePackText_ = (boost::format("Service Pack 6a (Build %d)") % build).str();
  } else {
    servicePackText_ = (boost::format("%s (Build %d)") % servicePack % build).str();
  }
  if (servicePackText_.size() > kMaxServicePackText) servicePackText_.resize(kMaxServicePackText);
}

void SystemInfo::RefineFromProductInfo(SystemQueries& queries) {
  const WindowsVersionRecord& version = records_.version;
  const std::optional<std::uint32_t> productType =
      queries.ProductInfo(version.majorVersion, version.minorVersion, version.servicePackMajor,
                          version.servicePackMinor);
  if (!productType) return;
  if (*productType == kProductUnlicensed) {
    if (edition_ == 31 || edition_ == 36) edition_ = 32;
    if (edition_ == 40 || edition_ == 42 || edition_ == 46) edition_ = 41;
    if (edition_ == 55) edition_ = 56;
    return;
  }
  for (const ProductRow& row : kProductRows) {
    if (row.productType != *productType) continue;
    edition_ = row.edition + (row.newer && version.minorVersion != 0 ? 24 : 0);
    return;
  }
}

}  // namespace Pellux
