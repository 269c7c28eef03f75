#include "device/libusb_library_win.h"

#include <atomic>
#include <mutex>

#include "device/library_path_win.h"

namespace Pellux {
namespace {

std::atomic<const LibusbLibrary*> processInstance{nullptr};

}  // namespace

LibusbLibrary::LibusbLibrary(Load /*tag*/)
    : module_(LoadLibraryByFullPath(ProgramFolder() + kFileName)) {
  if (module_ == nullptr) throw LibusbError::kLibraryMissing;
  const bool bound = BindExport(module_, "usb_claim_interface", usb_claim_interface) &&
                     BindExport(module_, "usb_get_busses", usb_get_busses) &&
                     BindExport(module_, "usb_clear_halt", usb_clear_halt) &&
                     BindExport(module_, "usb_get_string_simple", usb_get_string_simple) &&
                     BindExport(module_, "usb_close", usb_close) &&
                     BindExport(module_, "usb_reset", usb_reset) &&
                     BindExport(module_, "usb_init", usb_init) &&
                     BindExport(module_, "usb_find_busses", usb_find_busses) &&
                     BindExport(module_, "usb_find_devices", usb_find_devices) &&
                     BindExport(module_, "usb_open", usb_open) &&
                     BindExport(module_, "usb_release_interface", usb_release_interface) &&
                     BindExport(module_, "usb_interrupt_write", usb_interrupt_write) &&
                     BindExport(module_, "usb_bulk_read", usb_bulk_read) &&
                     BindExport(module_, "usb_device", usb_device) &&
                     BindExport(module_, "usb_set_configuration", usb_set_configuration) &&
                     BindExport(module_, "usb_set_debug", usb_set_debug);
  if (!bound) {
    FreeLibrary(module_);
    throw LibusbError::kFunctionMissing;
  }
}

LibusbLibrary::LibusbLibrary() : LibusbLibrary(Load{}) {
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      // Never destroyed: it keeps the library for the rest of the process.
      processInstance.store(new LibusbLibrary(Load{}));
    } catch (LibusbError::Enum /*why*/) {
      // The library went between the two loads: a later process instance is not needed.
    }
  });
}

LibusbLibrary::~LibusbLibrary() {
  FreeLibrary(module_);
}

std::unique_ptr<LibusbLibrary> LibusbLibrary::Create(LibusbError::Enum* why) {
  try {
    return std::make_unique<LibusbLibrary>();
  } catch (LibusbError::Enum error) {
    if (why != nullptr) *why = error;
    return nullptr;
  }
}

const LibusbLibrary* LibusbLibrary::ProcessInstance() {
  return processInstance.load();
}

}  // namespace Pellux
