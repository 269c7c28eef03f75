#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pellux {

// What a Windows program image's file header says: the machine it was built for (0x014c i386,
// 0x8664 x86-64) and whether it is a library (IMAGE_FILE_DLL).
struct PortableExecutableHeader {
  std::uint16_t machine = 0;
  bool library = false;

  bool operator==(const PortableExecutableHeader&) const = default;
};

// How many of a file's first bytes ReadPortableExecutableHeader looks at, at most.
inline constexpr std::size_t kPortableExecutableHeadBytes = 4096;

// Reads the header from a file's first bytes, which may be anything (a library of another
// machine, a text, a truncated copy): nothing when they are no PE image (too short, no "MZ", the
// header's offset outside `head` or its first kPortableExecutableHeadBytes, no "PE\0\0" there,
// the file header cut short). Pure; never throws.
std::optional<PortableExecutableHeader> ReadPortableExecutableHeader(std::string_view head);

// "i386", "x86-64" or the number in hexadecimal ("0xaa64"), for a person.
std::string MachineName(std::uint16_t machine);

}  // namespace Pellux
