#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace Pellux {

// The pure rules of USB discovery: how the texts a bridge or libusb device reports
// become ids and serial numbers, which product texts look like a base station, and how a
// device pattern of the device restart matches an id. Portable, so that every platform tests
// them.

// A product or serial text field as the bridge library fills it: 256 bytes.
inline constexpr std::size_t kUsbTextFieldSize = 256;
using UsbTextField = std::array<char, kUsbTextFieldSize>;

// The product text the base station reports, compared over its first 13 characters.
inline constexpr std::string_view kAntUsbStickProduct = "ANT USB Stick";

// A vendor or product id given as hexadecimal text ("0FCF", "0x10c4"); 0 when the text starts
// with no hexadecimal digit. Only the low 16 bits of a longer value are kept.
std::uint16_t ParseHexId(std::string_view text);

// The decimal value of the text's leading digits; 0 when it starts with none. A value past
// 32 bits reads as 0xFFFFFFFF.
std::uint32_t LeadingDecimalNumber(std::string_view text);

// The text of a field up to its terminator (the whole field when it has none).
std::string FieldText(const UsbTextField& field);

// The serial number of a bridge device from its serial text field: the leading digits of the
// text, except that a value from 10001 to 10254 is replaced by the 32-bit little-endian word
// stored at byte 56 of the field.
std::uint32_t BridgeSerialNumber(const UsbTextField& serialField);

// Whether a product text may be a base station: the first min(length, 13) characters equal
// those of "ANT USB Stick", so that "ANT", the empty text and "ANT USB Stick 2" all match.
bool IsAntUsbStickProduct(std::string_view productText);

// USBDevice::GetProductDescription: copies the text of `field` with its terminator into
// `buffer`; true only when it fits in `size` bytes. A text that does not fit is cut to
// size - 1 characters, still terminated.
bool CopyProductText(const UsbTextField& field, char* buffer, std::size_t size);

// USBDevice::GetSerialString: with 256 bytes or more, copies the whole field and returns
// true; with fewer, copies only `size` bytes and returns false (a short serial is still whole
// up to its terminator).
bool CopySerialField(const UsbTextField& field, char* buffer, std::size_t size);

// Fills a field from a text, cut to 255 characters, the rest zero.
UsbTextField MakeTextField(std::string_view text);

// --- Device restart patterns ---

// "@USB\VID_0FCF&PID_1004\*": every device with these USB ids, whatever its instance.
std::string UsbInstancePattern(std::uint16_t vendorId, std::uint16_t productId);

// What a device pattern of the restart selects.
struct DevicePattern {
  enum class Kind {
    kInstanceId,  // "@...": matched against the device instance id
    kHardwareId,  // matched against each hardware id and compatible id
    kAll,         // exactly "*": every device
    kSetupClass,  // "=Name": every device of that setup class
  };
  Kind kind = Kind::kHardwareId;
  // The pattern without its '@' or '=' (the class name for kSetupClass).
  std::string text;
};

DevicePattern ParseDevicePattern(std::string_view pattern);

// Whether a device with this instance id and these hardware and compatible ids is selected by
// `pattern` (kAll and kSetupClass select every device they are asked about: the class is
// chosen when the devices are listed).
bool DevicePatternMatches(const DevicePattern& pattern, std::string_view instanceId,
                          std::span<const std::string> ids);

}  // namespace Pellux
