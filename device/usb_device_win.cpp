#include "device/usb_device_win.h"

#include <algorithm>
#include <array>
#include <memory>

#include "device/device_restart_win.h"
#include "device/libusb_library_win.h"
#include "device/silabs_library_win.h"

namespace Pellux {
namespace {

// The bridge library numbers devices in a byte.
constexpr DWORD kMaxBridgeDevices = 255;

// Reads one SI_GetProductString text into a zeroed field; false when the library refused.
bool ReadProductString(const SiLabsLibrary& library, std::uint8_t deviceNumber, DWORD option,
                       UsbTextField& field) {
  field.fill('\0');
  if (library.SI_GetProductString(deviceNumber, field.data(), option) != SiApi::kSuccess) {
    field.fill('\0');
    return false;
  }
  // The library terminates what it writes; a field without a terminator is cut at its end.
  field.back() = '\0';
  return true;
}

// One libusb string descriptor into a zeroed field; false (the field empty) on failure.
bool ReadLibusbString(const LibusbLibrary& library, UsbApi::usb_dev_handle* handle, int index,
                      UsbTextField& field) {
  field.fill('\0');
  if (handle == nullptr || index == 0) return false;
  const int length = library.usb_get_string_simple(handle, index, field.data(), field.size());
  if (length < 0) {
    field.fill('\0');
    return false;
  }
  field.back() = '\0';
  return true;
}

}  // namespace

bool USBDevice::Restart() const {
  RestartUsbDevices(GetVid(), GetPid());
  return true;
}

std::string USBDevice::SerialText() const {
  UsbTextField field{};
  GetSerialString(field.data(), field.size());
  field.back() = '\0';
  return FieldText(field);
}

USBDeviceSI::USBDeviceSI(std::uint8_t deviceNumber, const SiLabsLibrary* library)
    : deviceNumber_(deviceNumber) {
  if (library == nullptr) return;
  UsbTextField text{};
  if (ReadProductString(*library, deviceNumber, SiApi::kReturnVid, text)) {
    vendorId_ = ParseHexId(FieldText(text));
  }
  if (ReadProductString(*library, deviceNumber, SiApi::kReturnPid, text)) {
    productId_ = ParseHexId(FieldText(text));
  }
  if (library->SI_GetProductString(deviceNumber, serial_.data(), SiApi::kReturnSerialNumber) ==
      SiApi::kSuccess) {
    // The whole field is kept as the library wrote it: a station's real number may sit past
    // the text's terminator (BridgeSerialNumber).
    serialNumber_ = BridgeSerialNumber(serial_);
  } else {
    serial_.fill('\0');
  }
  productRead_ = ReadProductString(*library, deviceNumber, SiApi::kReturnDescription, product_);
}

bool USBDeviceSI::GetProductDescription(char* buffer, std::size_t size) const {
  return CopyProductText(product_, buffer, size);
}

bool USBDeviceSI::GetSerialString(char* buffer, std::size_t size) const {
  return CopySerialField(serial_, buffer, size);
}

USBDeviceLibusb::USBDeviceLibusb(UsbApi::usb_device* device, const LibusbLibrary& library)
    : record_(device) {
  if (device == nullptr) return;
  vendorId_ = device->descriptor.idVendor;
  productId_ = device->descriptor.idProduct;
  UsbApi::usb_dev_handle* handle = library.usb_open(device);
  if (handle == nullptr) return;
  ReadLibusbString(library, handle, device->descriptor.iProduct, product_);
  if (ReadLibusbString(library, handle, device->descriptor.iSerialNumber, serial_)) {
    serialNumber_ = LeadingDecimalNumber(FieldText(serial_));
  }
  library.usb_close(handle);
}

bool USBDeviceLibusb::GetProductDescription(char* buffer, std::size_t size) const {
  return CopyProductText(product_, buffer, size);
}

bool USBDeviceLibusb::GetSerialString(char* buffer, std::size_t size) const {
  return CopySerialField(serial_, buffer, size);
}

USBDeviceList<USBDeviceSI> GetSIDeviceList() {
  USBDeviceList<USBDeviceSI> list;
  const std::unique_ptr<SiLabsLibrary> library = SiLabsLibrary::Create();
  if (!library) return list;
  DWORD count = 0;
  if (library->SI_GetNumDevices(&count) != SiApi::kSuccess) return list;
  count = std::min(count, kMaxBridgeDevices);
  for (DWORD number = 0; number < count; ++number) {
    list.Add(std::make_shared<const USBDeviceSI>(static_cast<std::uint8_t>(number), library.get()));
  }
  return list;
}

USBDeviceList<USBDeviceLibusb> GetLibusbDeviceList() {
  USBDeviceList<USBDeviceLibusb> list;
  const std::unique_ptr<LibusbLibrary> library = LibusbLibrary::Create();
  if (!library) return list;
  library->usb_init();
  if (library->usb_find_busses() < 0 || library->usb_find_devices() < 0) return list;
  for (UsbApi::usb_bus* bus = library->usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (UsbApi::usb_device* device = bus->devices; device != nullptr; device = device->next) {
      list.Add(std::make_shared<const USBDeviceLibusb>(device, *library));
    }
  }
  return list;
}

USBDeviceList<USBDevice> GetAllDevices() {
  USBDeviceList<USBDevice> all = GetSIDeviceList().Filter<USBDevice>(
      [](const USBDeviceSI& device) { return device.ProductTextRead(); });
  all.Append(GetLibusbDeviceList().Filter([](const USBDeviceLibusb& device) {
    return device.GetVid() == kNordicVendorId || device.GetVid() == kDynastreamVendorId;
  }));
  return all;
}

}  // namespace Pellux
