#include "rebooter/rebooter_instance_linux.h"

#include <cstdio>
#include <limits>

namespace Pellux {
namespace {

// A run of `maxDigits` or fewer digits of `base` (lower case only) without a leading zero, at
// `at` in `text` up to the next '-' or the end; its value, and `at` moved past it.
std::optional<std::uint64_t> ReadStrictNumber(const std::string& text, std::size_t& at, int base,
                                              std::size_t maxDigits) {
  const std::size_t start = at;
  std::uint64_t value = 0;
  while (at < text.size() && text[at] != '-') {
    const char c = text[at];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return std::nullopt;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    ++at;
    if (at - start > maxDigits) return std::nullopt;
  }
  if (at == start || text[start] == '0') return std::nullopt;
  return value;
}

}  // namespace

std::string RebooterUnitName(std::uint16_t vendorId, std::uint16_t productId,
                             std::int32_t processId) {
  char instance[64];
  std::snprintf(instance, sizeof instance, "%x-%x-%d", static_cast<unsigned>(vendorId),
                static_cast<unsigned>(productId), static_cast<int>(processId));
  return std::string(kRebooterUnitPrefix) + instance + kRebooterUnitSuffix;
}

std::optional<RebooterArguments> ParseRebooterInstance(const std::string& instance) {
  std::size_t at = 0;
  const auto vendorId = ReadStrictNumber(instance, at, 16, 4);
  if (!vendorId || at >= instance.size()) return std::nullopt;
  ++at;
  const auto productId = ReadStrictNumber(instance, at, 16, 4);
  if (!productId || at >= instance.size()) return std::nullopt;
  ++at;
  const auto processId = ReadStrictNumber(instance, at, 10, 10);
  if (!processId || at != instance.size()) return std::nullopt;
  if (*processId < 2 ||
      *processId > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  RebooterArguments arguments;
  arguments.restartDevice = true;
  arguments.vendorId = static_cast<std::uint32_t>(*vendorId);
  arguments.productId = static_cast<std::uint32_t>(*productId);
  arguments.terminateProcess = true;
  arguments.processId = static_cast<std::int32_t>(*processId);
  return arguments;
}

}  // namespace Pellux
