#include "server/base64.h"

#include <array>

namespace Pellux {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kNotInAlphabet = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  table.fill(kNotInAlphabet);
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}

constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) |
                                (std::uint32_t{bytes[i + 1]} << 8) | std::uint32_t{bytes[i + 2]};
    text.push_back(kAlphabet[(group >> 18) & 0x3F]);
    text.push_back(kAlphabet[(group >> 12) & 0x3F]);
    text.push_back(kAlphabet[(group >> 6) & 0x3F]);
    text.push_back(kAlphabet[group & 0x3F]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const std::uint32_t group = std::uint32_t{bytes[i]} << 16;
    text.push_back(kAlphabet[(group >> 18) & 0x3F]);
    text.push_back(kAlphabet[(group >> 12) & 0x3F]);
    text.append("==");
  } else if (rest == 2) {
    const std::uint32_t group =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
    text.push_back(kAlphabet[(group >> 18) & 0x3F]);
    text.push_back(kAlphabet[(group >> 12) & 0x3F]);
    text.push_back(kAlphabet[(group >> 6) & 0x3F]);
    text.push_back('=');
  }
  return text;
}

std::vector<std::uint8_t> Base64Decode(std::string_view text) {
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 2);
  std::uint8_t* out = bytes.data();
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  // Whole groups first; a group holding a character outside the alphabet (every such value
  // has its top bit set) ends the fast path, and the careful loop below finds where it stops.
  for (; i + 4 <= size; i += 4) {
    const std::uint32_t a = kDecode[in[i]];
    const std::uint32_t b = kDecode[in[i + 1]];
    const std::uint32_t c = kDecode[in[i + 2]];
    const std::uint32_t d = kDecode[in[i + 3]];
    if (((a | b | c | d) & 0x80U) != 0) break;
    const std::uint32_t group = (a << 18) | (b << 12) | (c << 6) | d;
    *out++ = static_cast<std::uint8_t>(group >> 16);
    *out++ = static_cast<std::uint8_t>(group >> 8);
    *out++ = static_cast<std::uint8_t>(group);
  }
  std::uint32_t group = 0;
  int count = 0;
  for (; i < size; ++i) {
    const std::uint8_t value = kDecode[in[i]];
    if (value == kNotInAlphabet) break;  // "=" ends the input as any other stranger does
    group = (group << 6) | value;
    if (++count == 4) {
      *out++ = static_cast<std::uint8_t>(group >> 16);
      *out++ = static_cast<std::uint8_t>(group >> 8);
      *out++ = static_cast<std::uint8_t>(group);
      group = 0;
      count = 0;
    }
  }
  if (count == 2) {
    *out++ = static_cast<std::uint8_t>(group >> 4);
  } else if (count == 3) {
    *out++ = static_cast<std::uint8_t>(group >> 10);
    *out++ = static_cast<std::uint8_t>(group >> 2);
  }
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
  return bytes;
}

}  // namespace Pellux
