// The PE header reader (the installer's check of the vendor's libraries, pelluxctl doctor's)
// against images of each machine and against hostile bytes: texts, truncated copies, offsets
// past the bytes or near 4 GiB.

#include "base/portable_executable.h"

#include <gtest/gtest.h>

#include <string>

namespace Pellux {
namespace {

constexpr std::uint16_t kI386 = 0x014c;
constexpr std::uint16_t kAmd64 = 0x8664;
constexpr std::uint16_t kLibrary = 0x2000;

// `size` bytes with a DOS header pointing at `offset`, and there a PE header of `machine` with
// the characteristics `flags`, as far as it fits.
std::string PeHead(std::uint32_t offset, std::uint16_t machine, std::uint16_t flags = kLibrary,
                   std::size_t size = 512) {
  std::string head(size, '\0');
  head[0] = 'M';
  head[1] = 'Z';
  for (int i = 0; i < 4; ++i) head[0x3C + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
  std::string header("PE\0\0", 4);
  header += static_cast<char>(machine & 0xFF);
  header += static_cast<char>(machine >> 8);
  header.resize(4 + 18);
  header += static_cast<char>(flags & 0xFF);
  header += static_cast<char>(flags >> 8);
  if (offset < size)
    head.replace(offset, std::min(header.size(), size - offset), header, 0,
                 std::min(header.size(), size - offset));
  return head;
}

TEST(PortableExecutableTest, TheMachineAndTheLibraryFlagAreReadFromTheImageHeader) {
  const struct {
    const char* what;
    std::string head;
    PortableExecutableHeader header;
  } cases[] = {
      {"i386 library", PeHead(0x80, kI386), {kI386, true}},
      {"x86-64 library", PeHead(0x100, kAmd64, kLibrary | 0x22), {kAmd64, true}},
      {"arm64 program", PeHead(0x80, 0xaa64, 0x22), {0xaa64, false}},
      {"header at the end of the bytes read",
       PeHead(4096 - 24, kI386, kLibrary, 8000),
       {kI386, true}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadPortableExecutableHeader(c.head), c.header) << c.what;
  }
  EXPECT_EQ(MachineName(kI386), "i386");
  EXPECT_EQ(MachineName(kAmd64), "x86-64");
  EXPECT_EQ(MachineName(0xaa64), "0xaa64");
}

TEST(PortableExecutableTest, AFileThatIsNoImageHasNoHeader) {
  std::string noSignature = PeHead(0x80, kI386);
  noSignature[0x81] = 'X';
  const struct {
    const char* what;
    std::string head;
  } cases[] = {
      {"empty", ""},
      {"MZ alone", "MZ"},
      {"no MZ", std::string(512, 'x')},
      {"a script", "#!/bin/sh\necho not a library\n"},
      {"offset past the bytes", PeHead(512, kI386)},
      {"offset at their very end", PeHead(510, kI386)},
      {"offset near 4 GiB", PeHead(0xFFFFFFFF, kI386)},
      {"offset 4 bytes short of 4 GiB", PeHead(0xFFFFFFFC, kI386)},
      {"header past the bytes read", PeHead(4096 - 23, kI386, kLibrary, 8000)},
      {"no PE signature", noSignature},
      {"cut before the machine", PeHead(0x80, kI386).substr(0, 0x85)},
      {"cut before the characteristics", PeHead(0x80, kI386).substr(0, 0x80 + 23)},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(ReadPortableExecutableHeader(c.head).has_value()) << c.what;
  }
  // Whole, the same bytes are read.
  EXPECT_TRUE(ReadPortableExecutableHeader(PeHead(0x80, kI386).substr(0, 0x80 + 24)).has_value());
}

}  // namespace
}  // namespace Pellux
