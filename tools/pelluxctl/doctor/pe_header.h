#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Pellux {

// What the first bytes of a file say of it as a Windows program image (PE).
struct PeHeader {
  // False when the bytes are no PE image; `problem` then says what is wrong.
  bool image = false;
  std::string problem;
  // IMAGE_FILE_HEADER.Machine, and its name: "i386", "x86_64", "arm64", "arm", or "0x...."
  std::uint16_t machine = 0;
  std::string machineName;
  // The image is a library (IMAGE_FILE_DLL).
  bool library = false;
};

// How many bytes of a file ReadPeHeader needs at most: the DOS header's pointer to the PE
// header must fall within them.
inline constexpr std::size_t kPeHeaderBytes = 4096;

// Reads the DOS and PE file headers at the start of `bytes` (a file's first bytes, which may be
// anything: a library of another program, a text, a truncated copy). Pure; never throws.
PeHeader ReadPeHeader(std::string_view bytes);

// The name ReadPeHeader gives `machine`.
std::string PeMachineName(std::uint16_t machine);

}  // namespace Pellux
