#include "base/portable_executable.h"

#include <array>
#include <cstdio>

namespace Pellux {
namespace {

// The DOS header: "MZ", and at 0x3C the offset of the PE header: "PE\0\0", then the file header
// (the machine first, the characteristics 18 bytes on, 20 bytes in all).
constexpr std::size_t kOffsetField = 0x3C;
constexpr std::size_t kSignatureBytes = 4;
constexpr std::size_t kFileHeaderBytes = 20;
constexpr std::size_t kCharacteristicsAt = 18;
constexpr std::uint16_t kLibraryFlag = 0x2000;

std::uint32_t ReadLittleEndian(std::string_view bytes, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  }
  return value;
}

}  // namespace

std::optional<PortableExecutableHeader> ReadPortableExecutableHeader(std::string_view head) {
  if (head.size() > kPortableExecutableHeadBytes)
    head = head.substr(0, kPortableExecutableHeadBytes);
  if (head.size() < kOffsetField + 4 || head[0] != 'M' || head[1] != 'Z') return std::nullopt;
  const std::uint32_t at = ReadLittleEndian(head, kOffsetField, 4);
  if (at > head.size() || head.size() - at < kSignatureBytes + kFileHeaderBytes) {
    return std::nullopt;
  }
  if (head.substr(at, kSignatureBytes) != std::string_view("PE\0\0", kSignatureBytes)) {
    return std::nullopt;
  }
  PortableExecutableHeader header;
  header.machine = static_cast<std::uint16_t>(ReadLittleEndian(head, at + kSignatureBytes, 2));
  const auto flags = static_cast<std::uint16_t>(
      ReadLittleEndian(head, at + kSignatureBytes + kCharacteristicsAt, 2));
  header.library = (flags & kLibraryFlag) != 0;
  return header;
}

std::string MachineName(std::uint16_t machine) {
  switch (machine) {
    case 0x014c:
      return "i386";
    case 0x8664:
      return "x86-64";
    default: {
      std::array<char, 16> text{};
      std::snprintf(text.data(), text.size(), "0x%04x", machine);
      return text.data();
    }
  }
}

}  // namespace Pellux
