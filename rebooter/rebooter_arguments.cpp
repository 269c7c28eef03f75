#include "rebooter/rebooter_arguments.h"

#include <limits>

namespace Pellux {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// The magnitude read after the sign, saturated at `limit`, and whether a digit was there.
struct Magnitude {
  bool negative = false;
  bool readable = false;
  bool overflow = false;
  std::uint64_t value = 0;
};

Magnitude ReadMagnitude(const std::string& text, int base, std::uint64_t limit) {
  Magnitude result;
  std::size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    result.negative = text[at] == '-';
    ++at;
  }
  // "0x" counts only when a hexadecimal digit follows; otherwise the "0" alone is the number.
  if (base == 16 && at + 2 < text.size() && text[at] == '0' &&
      (text[at + 1] == 'x' || text[at + 1] == 'X') && DigitValue(text[at + 2]) < 16) {
    at += 2;
  }
  for (; at < text.size() && DigitValue(text[at]) < base; ++at) {
    result.readable = true;
    const auto digit = static_cast<std::uint64_t>(DigitValue(text[at]));
    if (result.value > (limit - digit) / static_cast<std::uint64_t>(base)) {
      result.overflow = true;
      result.value = limit;
    } else if (!result.overflow) {
      result.value = result.value * static_cast<std::uint64_t>(base) + digit;
    }
  }
  return result;
}

}  // namespace

std::uint32_t ReadUnsignedNumber(const std::string& text, int base) {
  constexpr auto kMax = std::numeric_limits<std::uint32_t>::max();
  const Magnitude magnitude = ReadMagnitude(text, base, kMax);
  if (!magnitude.readable) return 0;
  if (magnitude.overflow) return kMax;
  const auto value = static_cast<std::uint32_t>(magnitude.value);
  return magnitude.negative ? static_cast<std::uint32_t>(0U - value) : value;
}

std::int32_t ReadSignedNumber(const std::string& text, int base) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  // One more for the negative side's limit.
  const Magnitude magnitude = ReadMagnitude(text, base, kMax + 1);
  if (!magnitude.readable) return 0;
  if (magnitude.negative) {
    if (magnitude.value > kMax) return std::numeric_limits<std::int32_t>::min();
    return -static_cast<std::int32_t>(magnitude.value);
  }
  if (magnitude.value > kMax) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(magnitude.value);
}

RebooterArguments ParseRebooterArguments(const std::vector<std::string>& words) {
  RebooterArguments arguments;
  if (words.size() >= 2) {
    arguments.restartDevice = true;
    arguments.vendorId = ReadUnsignedNumber(words[0], 16);
    arguments.productId = ReadUnsignedNumber(words[1], 16);
  }
  if (words.size() >= 3) {
    arguments.terminateProcess = true;
    arguments.processId = ReadSignedNumber(words[2], 10);
  }
  return arguments;
}

}  // namespace Pellux
