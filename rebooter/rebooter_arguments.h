#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Pellux {

// What the rebooter was asked to do, read from its words: vendor id and product id in
// hexadecimal, then the service's process id in decimal. Words may be left off from the end:
// without the process id nothing is terminated, without the ids no device is restarted.
struct RebooterArguments {
  bool restartDevice = false;
  std::uint32_t vendorId = 0;
  std::uint32_t productId = 0;
  bool terminateProcess = false;
  std::int32_t processId = 0;
};

// `words` without the program's own name.
RebooterArguments ParseRebooterArguments(const std::vector<std::string>& words);

// A number read as the C library's strtoul/strtol read it: leading blanks, a sign, in base 16 an
// optional "0x", then digits up to the first character that is none; nothing readable gives 0,
// a value past the type's range its limit. The sign negates in the unsigned type, as strtoul
// does ("-1" is 0xFFFFFFFF).
std::uint32_t ReadUnsignedNumber(const std::string& text, int base);
std::int32_t ReadSignedNumber(const std::string& text, int base);

}  // namespace Pellux
