#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Pellux {

// The fields of the Windows version record (OSVERSIONINFOEXA), as GetVersionExA fills them.
struct WindowsVersionRecord {
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  std::uint32_t platformId = 0;
  std::string servicePack = {};  // szCSDVersion, up to its first NUL
  // Only the extended record has these; the basic one leaves them 0.
  std::uint16_t servicePackMajor = 0;
  std::uint16_t servicePackMinor = 0;
  std::uint16_t suiteMask = 0;
  std::uint8_t productType = 0;
};

// What the detection reads before it starts: the version record and the native processor.
struct SystemRecords {
  bool versionRead = false;   // either form of the version record could be read
  bool extendedRead = false;  // the extended form could be read
  WindowsVersionRecord version;
  std::uint16_t processorArchitecture = 0;  // of the native system information
};

// What the detection asks of the system only when one of its steps needs it. Called on the
// thread that constructs the SystemInfo.
class SystemQueries {
 public:
  SystemQueries() = default;
  SystemQueries(const SystemQueries&) = delete;
  SystemQueries& operator=(const SystemQueries&) = delete;
  virtual ~SystemQueries() = default;

  // GetSystemMetrics(SM_SERVERR2): non-zero on Windows Server 2003 R2.
  virtual int ServerR2Metric() = 0;
  // The text "ProductType" under HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions, at most
  // 80 bytes; nullopt when it cannot be read.
  virtual std::optional<std::string> ProductOptionsType() = 0;
  // Whether the key of hotfix Q246009 (Windows NT 4.0 Service Pack 6a) can be opened.
  virtual bool HotfixQ246009Present() = 0;
  // GetProductInfo's product type; nullopt when the function is missing or fails.
  virtual std::optional<std::uint32_t> ProductInfo(std::uint32_t major, std::uint32_t minor,
                                                   std::uint32_t servicePackMajor,
                                                   std::uint32_t servicePackMinor) = 0;
};

// The Windows edition and service pack, classified from the version records by fixed tables
// (the edition codes 1 to 64), and the one-line description the server receives. Pure: what
// it knows of the system comes in through its constructor, so any system can be described
// anywhere.
class SystemInfo {
 public:
  static constexpr std::size_t kMaxServicePackText = 127;
  static constexpr std::uint32_t kProductUnlicensed = 0xABCDABCD;  // PRODUCT_UNLICENSED

  // Runs the detection over `records`, asking `queries` only what the steps it reaches need.
  SystemInfo(const SystemRecords& records, SystemQueries& queries);
  virtual ~SystemInfo();

  // The edition code; 0 when unknown.
  [[nodiscard]] int Edition() const { return edition_; }
  // "<service pack> (Build <n>)" on Windows NT, else empty; at most 127 characters.
  [[nodiscard]] const std::string& ServicePackText() const { return servicePackText_; }
  // Whether the native processor is 64-bit (Itanium, Alpha 64 or x64).
  [[nodiscard]] bool Is64Bit() const;
  // The same question about a processor architecture of the native system information.
  static bool Is64BitArchitecture(std::uint16_t architecture);
  // "<family> <major>.<minor>.<build> <service pack text> <32-bit|64-bit> <platform>".
  [[nodiscard]] std::string Description() const;

  // The family name of an edition code: "Windows Unknown" for codes without one.
  static std::string FamilyName(int edition);

 private:
  void Detect(SystemQueries& queries);
  void ClassifyWindows9x();
  void ClassifyNtVersion(SystemQueries& queries);
  void RefineFromExtendedRecord();
  bool RefineFromProductOptions(SystemQueries& queries);
  void FormatServicePack(SystemQueries& queries);
  void RefineFromProductInfo(SystemQueries& queries);

  SystemRecords records_;
  int edition_ = 0;
  std::string servicePackText_;
};

}  // namespace Pellux
