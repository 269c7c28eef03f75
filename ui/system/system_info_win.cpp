#include "ui/system/system_info_win.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "base/system_error.h"

namespace Pellux {
namespace {

constexpr const char* kProductOptionsKey = "SYSTEM\\CurrentControlSet\\Control\\ProductOptions";
constexpr const char* kHotfixQ246009Key =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009";
// The registry text is read into a buffer of this size; a longer one is not read at all.
constexpr DWORD kMaxProductTypeBytes = 80;

void Report(const ProblemReporter& report, const std::string& line) {
  if (report) report(line);
}

// A function of kernel32.dll by name, or null where this Windows lacks it. Older systems answer
// that way on purpose, so a missing function is not reported.
template <typename FunctionPointer>
FunctionPointer FindKernel32Function(const char* name) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  // Through void* so that the compiler accepts the change of the function's type.
  return reinterpret_cast<FunctionPointer>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

// The text up to the first NUL of a fixed-size character field of a record.
template <std::size_t Size>
std::string FieldText(const CHAR (&field)[Size]) {
  return std::string(field, strnlen(field, Size));
}

// The fields that both forms of the version record have.
template <typename Record>
void TakeBasicFields(const Record& from, WindowsVersionRecord& to) {
  to.majorVersion = from.dwMajorVersion;
  to.minorVersion = from.dwMinorVersion;
  to.buildNumber = from.dwBuildNumber;
  to.platformId = from.dwPlatformId;
  to.servicePack = FieldText(from.szCSDVersion);
}

}  // namespace

SystemRecords ReadSystemRecords(const ProblemReporter& report) {
  SystemRecords records;
  // Windows deprecates GetVersionExA, which tells a program without a manifest that it runs on
  // Windows 8; the edition tables expect exactly what it tells.
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof(extended);
  if (GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended)) != FALSE) {
    records.versionRead = true;
    records.extendedRead = true;
    TakeBasicFields(extended, records.version);
    records.version.servicePackMajor = extended.wServicePackMajor;
    records.version.servicePackMinor = extended.wServicePackMinor;
    records.version.suiteMask = extended.wSuiteMask;
    records.version.productType = extended.wProductType;
  } else {
    Report(report, SystemCallFailure("GetVersionExA", "OSVERSIONINFOEXA", LastSystemError()) +
                       "; reading the basic version record");
    OSVERSIONINFOA basic{};
    basic.dwOSVersionInfoSize = sizeof(basic);
    if (GetVersionExA(&basic) != FALSE) {
      records.versionRead = true;
      TakeBasicFields(basic, records.version);
    } else {
      Report(report, SystemCallFailure("GetVersionExA", "OSVERSIONINFOA", LastSystemError()) +
                         "; the version is unknown");
    }
  }

  // A 32-bit program on 64-bit Windows learns the machine's own processor only from
  // GetNativeSystemInfo, which older systems lack. It is read even when the version is not, so
  // that the description's "64-bit" or "32-bit" stays true then too.
  SYSTEM_INFO system{};
  using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);
  if (auto getNativeSystemInfo =
          FindKernel32Function<GetNativeSystemInfoFunction>("GetNativeSystemInfo")) {
    getNativeSystemInfo(&system);
  } else {
    GetSystemInfo(&system);
  }
  records.processorArchitecture = system.wProcessorArchitecture;
  return records;
}

WinSystemQueries::WinSystemQueries(HKEY root, ProblemReporter report)
    : root_(root), report_(std::move(report)) {}

int WinSystemQueries::ServerR2Metric() {
  return GetSystemMetrics(SM_SERVERR2);
}

std::optional<std::string> WinSystemQueries::ProductOptionsType() {
  HKEY key = nullptr;
  LSTATUS status = RegOpenKeyExA(root_, kProductOptionsKey, 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) {
    Report(report_, SystemCallFailure("RegOpenKeyExA", kProductOptionsKey,
                                      static_cast<unsigned long>(status)));
    return std::nullopt;
  }
  std::array<char, kMaxProductTypeBytes> text{};
  DWORD type = REG_NONE;
  DWORD size = kMaxProductTypeBytes;
  status = RegQueryValueExA(key, "ProductType", nullptr, &type,
                            reinterpret_cast<BYTE*>(text.data()), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    Report(report_, SystemCallFailure("RegQueryValueExA", "ProductType",
                                      static_cast<unsigned long>(status)));
    return std::nullopt;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    Report(report_, "ProductType is not a text (registry type " + std::to_string(type) +
                        "); the edition stays as the version gives it");
    return std::nullopt;
  }
  // A text stored without its terminating NUL ends at the value's size.
  return std::string(text.data(), strnlen(text.data(), std::min<std::size_t>(size, text.size())));
}

bool WinSystemQueries::HotfixQ246009Present() {
  HKEY key = nullptr;
  const LSTATUS status = RegOpenKeyExA(root_, kHotfixQ246009Key, 0, KEY_QUERY_VALUE, &key);
  if (status == ERROR_SUCCESS) {
    RegCloseKey(key);
    return true;
  }
  // A missing key is the answer "not installed"; anything else is worth a line.
  if (status != ERROR_FILE_NOT_FOUND) {
    Report(report_, SystemCallFailure("RegOpenKeyExA", kHotfixQ246009Key,
                                      static_cast<unsigned long>(status)));
  }
  return false;
}

std::optional<std::uint32_t> WinSystemQueries::ProductInfo(std::uint32_t major, std::uint32_t minor,
                                                           std::uint32_t servicePackMajor,
                                                           std::uint32_t servicePackMinor) {
  using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
  const auto getProductInfo = FindKernel32Function<GetProductInfoFunction>("GetProductInfo");
  if (getProductInfo == nullptr) return std::nullopt;
  DWORD productType = 0;
  if (getProductInfo(major, minor, servicePackMajor, servicePackMinor, &productType) == FALSE) {
    Report(report_,
           SystemCallFailure("GetProductInfo", std::to_string(major) + "." + std::to_string(minor),
                             LastSystemError()));
    return std::nullopt;
  }
  return productType;
}

}  // namespace Pellux
