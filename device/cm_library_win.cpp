#include "device/cm_library_win.h"

#include <atomic>
#include <mutex>

#include "device/library_path_win.h"

namespace Pellux {
namespace {

std::atomic<const CMLibrary*> processInstance{nullptr};

}  // namespace

CMLibrary::CMLibrary(Load /*tag*/) : module_(LoadLibraryByFullPath(ProgramFolder() + kFileName)) {
  if (module_ == nullptr) throw CMError::kLibraryMissing;
  const bool bound =
      BindExport(module_, "CP210x_GetDeviceProductString", CP210x_GetDeviceProductString) &&
      BindExport(module_, "CP210x_GetDeviceSerialNumber", CP210x_GetDeviceSerialNumber) &&
      BindExport(module_, "CP210x_GetDeviceVid", CP210x_GetDeviceVid) &&
      BindExport(module_, "CP210x_GetDevicePid", CP210x_GetDevicePid) &&
      BindExport(module_, "CP210x_Reset", CP210x_Reset);
  if (!bound) {
    FreeLibrary(module_);
    throw CMError::kFunctionMissing;
  }
}

CMLibrary::CMLibrary() : CMLibrary(Load{}) {
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      // Never destroyed: it keeps the library for the rest of the process.
      processInstance.store(new CMLibrary(Load{}));
    } catch (CMError::Enum /*why*/) {
      // The library went between the two loads: a later process instance is not needed.
    }
  });
}

CMLibrary::~CMLibrary() {
  FreeLibrary(module_);
}

std::unique_ptr<CMLibrary> CMLibrary::Create(CMError::Enum* why) {
  try {
    return std::make_unique<CMLibrary>();
  } catch (CMError::Enum error) {
    if (why != nullptr) *why = error;
    return nullptr;
  }
}

const CMLibrary* CMLibrary::ProcessInstance() {
  return processInstance.load();
}

}  // namespace Pellux
