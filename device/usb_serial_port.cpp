#include "device/usb_serial_port.h"

#include <algorithm>
#include <limits>

namespace Pellux {
namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when it is not one
// (overlong forms, surrogates and values past U+10FFFF are not well-formed).
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string CleanDeviceText(std::string_view raw) {
  std::string clean;
  clean.reserve(std::min(raw.size(), kMaxDeviceTextBytes));
  while (!raw.empty()) {
    const std::size_t length = Utf8SequenceLength(raw);
    const auto lead = static_cast<unsigned char>(raw.front());
    const bool control = length == 1 && (lead < 0x20 || lead == 0x7F);
    const std::size_t kept = (length == 0 || control) ? 1 : length;
    if (clean.size() + kept > kMaxDeviceTextBytes) break;
    if (length == 0 || control) {
      clean.push_back('?');
    } else {
      clean.append(raw.substr(0, length));
    }
    raw.remove_prefix(length == 0 ? 1 : length);
  }
  return clean;
}

}  // namespace Pellux
