#pragma once

#include <windows.h>

#include <memory>

#include "device/bridge_api_win.h"

namespace Pellux {

// Why a bridge library could not be had. Thrown by the constructors; the factories turn it
// into plain failure.
struct LibusbError {
  enum Enum {
    kLibraryMissing = 1,   // the file could not be loaded from the program's folder
    kFunctionMissing = 2,  // a listed function is missing; the library was unloaded again
  };
};

// libusb0.dll, libusb-win32, through which devices without the bridge driver are listed,
// loaded only by full path from the program's own folder, with every function of its
// table bound. The first instance made also makes the one process-wide instance, which keeps
// the library loaded for the rest of the process's life (never destroyed); later instances
// load and unload it around their own use.
//
// Thread-safe to make and use from any thread; the functions are the library's own.
class LibusbLibrary {
 public:
  static constexpr const wchar_t* kFileName = L"libusb0.dll";

  // Throws LibusbError::Enum.
  LibusbLibrary();
  LibusbLibrary(const LibusbLibrary&) = delete;
  LibusbLibrary& operator=(const LibusbLibrary&) = delete;
  ~LibusbLibrary();

  // A loaded library, or null (and `why`, when given) when it cannot be had.
  static std::unique_ptr<LibusbLibrary> Create(LibusbError::Enum* why = nullptr);
  // The process-wide instance; null until an instance was first made.
  static const LibusbLibrary* ProcessInstance();

  [[nodiscard]] HMODULE Module() const { return module_; }

  UsbApi::usb_claim_interfaceFunction usb_claim_interface = nullptr;
  UsbApi::usb_get_bussesFunction usb_get_busses = nullptr;
  UsbApi::usb_clear_haltFunction usb_clear_halt = nullptr;
  UsbApi::usb_get_string_simpleFunction usb_get_string_simple = nullptr;
  UsbApi::usb_closeFunction usb_close = nullptr;
  UsbApi::usb_resetFunction usb_reset = nullptr;
  UsbApi::usb_initFunction usb_init = nullptr;
  UsbApi::usb_find_bussesFunction usb_find_busses = nullptr;
  UsbApi::usb_find_devicesFunction usb_find_devices = nullptr;
  UsbApi::usb_openFunction usb_open = nullptr;
  UsbApi::usb_release_interfaceFunction usb_release_interface = nullptr;
  UsbApi::usb_interrupt_writeFunction usb_interrupt_write = nullptr;
  UsbApi::usb_bulk_readFunction usb_bulk_read = nullptr;
  UsbApi::usb_deviceFunction usb_device = nullptr;
  UsbApi::usb_set_configurationFunction usb_set_configuration = nullptr;
  UsbApi::usb_set_debugFunction usb_set_debug = nullptr;

 private:
  struct Load {};
  explicit LibusbLibrary(Load /*tag*/);

  HMODULE module_ = nullptr;
};

}  // namespace Pellux
