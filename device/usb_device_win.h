#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/bridge_api_win.h"
#include "device/usb_device_list.h"
#include "device/usb_text_rules.h"

namespace Pellux {

class SiLabsLibrary;
class LibusbLibrary;

// One attached USB device that may be a base station. A description taken when the
// device was listed; it does not follow the device afterwards.
class USBDevice {
 public:
  static constexpr std::uint8_t kBridgeDevice = 1;
  static constexpr std::uint8_t kLibusbDevice = 2;

  USBDevice() = default;
  USBDevice(const USBDevice&) = default;
  USBDevice& operator=(const USBDevice&) = default;
  virtual ~USBDevice() = default;

  [[nodiscard]] virtual std::uint16_t GetVid() const = 0;
  [[nodiscard]] virtual std::uint16_t GetPid() const = 0;
  [[nodiscard]] virtual std::uint32_t GetSerialNumber() const = 0;
  // Copies the product text with its terminator; true only when it fits in `size` bytes.
  virtual bool GetProductDescription(char* buffer, std::size_t size) const = 0;
  // With 256 bytes or more, copies the whole 256-byte serial field and returns true; with
  // fewer, copies `size` bytes and returns false (a short serial is still whole up to its
  // terminator).
  virtual bool GetSerialString(char* buffer, std::size_t size) const = 0;
  [[nodiscard]] virtual std::uint8_t GetDeviceType() const = 0;
  // Power-cycles every attached device whose instance id matches
  // "@USB\VID_%04X&PID_%04X\*" with this device's ids. Always true.
  virtual bool Restart() const;

  // The serial text up to its terminator.
  [[nodiscard]] std::string SerialText() const;
};

// A device of the bridge library, by its device number.
class USBDeviceSI final : public USBDevice {
 public:
  // Describes bridge device `deviceNumber` through `library` (each step independent
  // of the others' failure); a null library leaves zero ids and empty texts.
  USBDeviceSI(std::uint8_t deviceNumber, const SiLabsLibrary* library);

  [[nodiscard]] std::uint16_t GetVid() const override { return vendorId_; }
  [[nodiscard]] std::uint16_t GetPid() const override { return productId_; }
  [[nodiscard]] std::uint32_t GetSerialNumber() const override { return serialNumber_; }
  bool GetProductDescription(char* buffer, std::size_t size) const override;
  bool GetSerialString(char* buffer, std::size_t size) const override;
  [[nodiscard]] std::uint8_t GetDeviceType() const override { return kBridgeDevice; }

  [[nodiscard]] std::uint8_t GetDeviceNumber() const { return deviceNumber_; }
  // Whether the library gave the product text (an unread one is empty).
  [[nodiscard]] bool ProductTextRead() const { return productRead_; }
  [[nodiscard]] std::string ProductText() const { return FieldText(product_); }

 private:
  std::uint8_t deviceNumber_ = 0;
  std::uint16_t vendorId_ = 0;
  std::uint16_t productId_ = 0;
  std::uint32_t serialNumber_ = 0;
  UsbTextField product_{};
  UsbTextField serial_{};
  bool productRead_ = false;
};

// A device that libusb-win32 lists.
class USBDeviceLibusb final : public USBDevice {
 public:
  // Describes `device`, opening it briefly through `library` to read its two texts.
  USBDeviceLibusb(UsbApi::usb_device* device, const LibusbLibrary& library);

  [[nodiscard]] std::uint16_t GetVid() const override { return vendorId_; }
  [[nodiscard]] std::uint16_t GetPid() const override { return productId_; }
  [[nodiscard]] std::uint32_t GetSerialNumber() const override { return serialNumber_; }
  bool GetProductDescription(char* buffer, std::size_t size) const override;
  bool GetSerialString(char* buffer, std::size_t size) const override;
  [[nodiscard]] std::uint8_t GetDeviceType() const override { return kLibusbDevice; }

  // The libusb-win32 record it came from: valid only while that listing is.
  [[nodiscard]] UsbApi::usb_device* Record() const { return record_; }

 private:
  UsbApi::usb_device* record_ = nullptr;
  std::uint16_t vendorId_ = 0;
  std::uint16_t productId_ = 0;
  std::uint32_t serialNumber_ = 0;
  UsbTextField product_{};
  UsbTextField serial_{};
};

// The attached bridge devices, in device-number order (at most 255): empty when the bridge
// library cannot be had. Rebuilt on every call.
USBDeviceList<USBDeviceSI> GetSIDeviceList();
// Every device libusb-win32 lists, bus by bus: empty when libusb0.dll cannot be had or its
// bus or device search fails.
USBDeviceList<USBDeviceLibusb> GetLibusbDeviceList();
// The vendors whose libusb devices may be base stations.
inline constexpr std::uint16_t kDynastreamVendorId = 0x0FCF;
inline constexpr std::uint16_t kNordicVendorId = 0x1915;
// Every base station candidate: the bridge devices whose product text could be
// read, in device-number order, then the libusb devices of vendor 0x1915 or 0x0FCF. A
// candidate's position is the bridge device number it is opened as.
USBDeviceList<USBDevice> GetAllDevices();

}  // namespace Pellux
