#include "device/usb_text_rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/wildcard.h"

namespace Pellux {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The bytes 10001 to 10254 of a serial text mark a station whose real number is stored further
// on in the field.
constexpr std::uint32_t kIndirectSerialFirst = 10001;
constexpr std::uint32_t kIndirectSerialLast = 10254;
constexpr std::size_t kIndirectSerialOffset = 56;

}  // namespace

std::uint16_t ParseHexId(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (text.size() > at + 2 && text[at] == '0' && LowerAscii(text[at + 1]) == 'x' &&
      HexDigit(text[at + 2]) >= 0) {
    at += 2;
  }
  std::uint32_t value = 0;
  for (; at < text.size() && HexDigit(text[at]) >= 0; ++at) {
    value = ((value << 4U) | static_cast<std::uint32_t>(HexDigit(text[at]))) & 0xFFFFU;
  }
  return static_cast<std::uint16_t>(value);
}

std::uint32_t LeadingDecimalNumber(std::string_view text) {
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) {
      return std::numeric_limits<std::uint32_t>::max();
    }
  }
  return static_cast<std::uint32_t>(value);
}

std::string FieldText(const UsbTextField& field) {
  const auto* const end = std::find(field.begin(), field.end(), '\0');
  return {field.begin(), end};
}

std::uint32_t BridgeSerialNumber(const UsbTextField& serialField) {
  const std::uint32_t number = LeadingDecimalNumber(FieldText(serialField));
  if (number < kIndirectSerialFirst || number > kIndirectSerialLast) return number;
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    word |= static_cast<std::uint32_t>(
                static_cast<unsigned char>(serialField[kIndirectSerialOffset + i]))
            << (8 * i);
  }
  return word;
}

bool IsAntUsbStickProduct(std::string_view productText) {
  const std::size_t compared = std::min(productText.size(), kAntUsbStickProduct.size());
  return productText.substr(0, compared) == kAntUsbStickProduct.substr(0, compared);
}

bool CopyProductText(const UsbTextField& field, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return false;
  const std::string text = FieldText(field);
  if (text.size() + 1 <= size) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
  }
  std::memcpy(buffer, text.data(), size - 1);
  buffer[size - 1] = '\0';
  return false;
}

bool CopySerialField(const UsbTextField& field, char* buffer, std::size_t size) {
  if (buffer == nullptr) return false;
  if (size >= field.size()) {
    std::memcpy(buffer, field.data(), field.size());
    return true;
  }
  std::memcpy(buffer, field.data(), size);
  return false;
}

UsbTextField MakeTextField(std::string_view text) {
  UsbTextField field{};
  const std::size_t length = std::min(text.size(), field.size() - 1);
  std::copy_n(text.begin(), length, field.begin());
  return field;
}

std::string UsbInstancePattern(std::uint16_t vendorId, std::uint16_t productId) {
  std::array<char, 40> text{};
  std::snprintf(text.data(), text.size(), "@USB\\VID_%04X&PID_%04X\\*",
                static_cast<unsigned>(vendorId), static_cast<unsigned>(productId));
  return text.data();
}

DevicePattern ParseDevicePattern(std::string_view pattern) {
  DevicePattern parsed;
  std::string_view text = pattern;
  if (!pattern.empty() && pattern.front() == '@') {
    parsed.kind = DevicePattern::Kind::kInstanceId;
    text.remove_prefix(1);
  } else if (!pattern.empty() && pattern.front() == '=') {
    parsed.kind = DevicePattern::Kind::kSetupClass;
    text.remove_prefix(1);
  } else if (pattern == "*") {
    parsed.kind = DevicePattern::Kind::kAll;
  } else {
    parsed.kind = DevicePattern::Kind::kHardwareId;
  }
  parsed.text.assign(text.begin(), text.end());
  return parsed;
}

bool DevicePatternMatches(const DevicePattern& pattern, std::string_view instanceId,
                          std::span<const std::string> ids) {
  switch (pattern.kind) {
    case DevicePattern::Kind::kAll:
    case DevicePattern::Kind::kSetupClass:
      return true;
    case DevicePattern::Kind::kInstanceId:
      return MatchesWildcard(pattern.text, instanceId, WildcardQuestion::kItself);
    case DevicePattern::Kind::kHardwareId:
      return std::any_of(ids.begin(), ids.end(), [&](const std::string& id) {
        return MatchesWildcard(pattern.text, id, WildcardQuestion::kItself);
      });
  }
  return false;
}

}  // namespace Pellux
