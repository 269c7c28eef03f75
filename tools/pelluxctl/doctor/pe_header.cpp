#include "tools/pelluxctl/doctor/pe_header.h"

#include <array>

namespace Pellux {
namespace {

constexpr std::size_t kDosPointerAt = 0x3c;
constexpr std::size_t kFileHeaderBytes = 20;
constexpr std::uint16_t kLibraryFlag = 0x2000;
constexpr std::size_t kCharacteristicsAt = 18;

std::uint32_t Little(std::string_view bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i > 0; --i) {
    value = (value << 8U) | static_cast<unsigned char>(bytes[at + i - 1]);
  }
  return value;
}

}  // namespace

std::string PeMachineName(std::uint16_t machine) {
  switch (machine) {
    case 0x014c:
      return "i386";
    case 0x8664:
      return "x86_64";
    case 0xaa64:
      return "arm64";
    case 0x01c4:
      return "arm";
    default:
      break;
  }
  constexpr std::array<char, 17> kDigits{"0123456789abcdef"};
  std::string name = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) {
    name += kDigits[(machine >> static_cast<unsigned>(shift)) & 0xfU];
  }
  return name;
}

PeHeader ReadPeHeader(std::string_view bytes) {
  PeHeader header;
  if (bytes.size() > kPeHeaderBytes) bytes = bytes.substr(0, kPeHeaderBytes);
  if (bytes.size() < kDosPointerAt + 4 || bytes.substr(0, 2) != "MZ") {
    header.problem = "no program image (it does not start with \"MZ\")";
    return header;
  }
  const std::uint32_t at = Little(bytes, kDosPointerAt, 4);
  if (at > bytes.size() || bytes.size() - at < 4 + kFileHeaderBytes) {
    header.problem = "no program image (its PE header is not within its first " +
                     std::to_string(kPeHeaderBytes) + " bytes)";
    return header;
  }
  if (bytes.substr(at, 4) != std::string_view("PE\0\0", 4)) {
    header.problem = "no program image (no PE signature)";
    return header;
  }
  header.image = true;
  header.machine = static_cast<std::uint16_t>(Little(bytes, at + 4, 2));
  header.machineName = PeMachineName(header.machine);
  const auto flags = static_cast<std::uint16_t>(Little(bytes, at + 4 + kCharacteristicsAt, 2));
  header.library = (flags & kLibraryFlag) != 0;
  return header;
}

}  // namespace Pellux
