// The rebooter's command line is outside text (anyone may start the program with any words):
// whatever the words, the numbers must be read exactly as a C library with 32-bit longs reads
// them (strtoul and strtol, as on Windows), and the words must decide the steps by their count
// alone. The input's NUL bytes separate the words.

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "rebooter/rebooter_arguments.h"

namespace {

// strtoul with a 32-bit unsigned long, from the 64-bit one of this system.
std::uint32_t ExpectedUnsigned(const std::string& word, int base) {
  std::size_t at = 0;
  while (at < word.size() && std::isspace(static_cast<unsigned char>(word[at])) != 0) ++at;
  const bool negative = at < word.size() && word[at] == '-';
  errno = 0;
  const unsigned long long value = std::strtoull(word.c_str(), nullptr, base);
  if (errno == ERANGE) return std::numeric_limits<std::uint32_t>::max();
  const unsigned long long magnitude = negative ? 0ULL - value : value;
  if (magnitude > std::numeric_limits<std::uint32_t>::max()) {
    return std::numeric_limits<std::uint32_t>::max();
  }
  return static_cast<std::uint32_t>(value);
}

// strtol with a 32-bit long.
std::int32_t ExpectedSigned(const std::string& word, int base) {
  const long long value = std::strtoll(word.c_str(), nullptr, base);
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  for (const std::string& word : words) {
    for (const int base : {10, 16}) {
      if (Pellux::ReadUnsignedNumber(word, base) != ExpectedUnsigned(word, base)) std::abort();
      if (Pellux::ReadSignedNumber(word, base) != ExpectedSigned(word, base)) std::abort();
    }
  }
  const Pellux::RebooterArguments arguments = Pellux::ParseRebooterArguments(words);
  if (arguments.restartDevice != (words.size() >= 2)) std::abort();
  if (arguments.terminateProcess != (words.size() >= 3)) std::abort();
  if (arguments.terminateProcess && arguments.processId != Pellux::ReadSignedNumber(words[2], 10)) {
    std::abort();
  }
  return 0;
}
