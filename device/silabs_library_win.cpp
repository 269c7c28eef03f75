#include "device/silabs_library_win.h"

#include <atomic>
#include <mutex>

#include "device/library_path_win.h"

namespace Pellux {
namespace {

std::atomic<const SiLabsLibrary*> processInstance{nullptr};

}  // namespace

SiLabsLibrary::SiLabsLibrary(Load /*tag*/)
    : module_(LoadLibraryByFullPath(ProgramFolder() + kFileName)) {
  if (module_ == nullptr) throw SiLabsError::kLibraryMissing;
  const bool bound = BindExport(module_, "SI_Open", SI_Open) &&
                     BindExport(module_, "SI_GetNumDevices", SI_GetNumDevices) &&
                     BindExport(module_, "SI_Close", SI_Close) &&
                     BindExport(module_, "SI_Read", SI_Read) &&
                     BindExport(module_, "SI_Write", SI_Write) &&
                     BindExport(module_, "SI_SetTimeouts", SI_SetTimeouts) &&
                     BindExport(module_, "SI_GetTimeouts", SI_GetTimeouts) &&
                     BindExport(module_, "SI_SetBaudRate", SI_SetBaudRate) &&
                     BindExport(module_, "SI_SetLineControl", SI_SetLineControl) &&
                     BindExport(module_, "SI_SetFlowControl", SI_SetFlowControl) &&
                     BindExport(module_, "SI_FlushBuffers", SI_FlushBuffers) &&
                     BindExport(module_, "SI_CheckRXQueue", SI_CheckRXQueue) &&
                     BindExport(module_, "SI_GetProductString", SI_GetProductString);
  if (!bound) {
    FreeLibrary(module_);
    throw SiLabsError::kFunctionMissing;
  }
}

SiLabsLibrary::SiLabsLibrary() : SiLabsLibrary(Load{}) {
  static std::once_flag once;
  std::call_once(once, [] {
    try {
      // Never destroyed: it keeps the library for the rest of the process.
      processInstance.store(new SiLabsLibrary(Load{}));
    } catch (SiLabsError::Enum /*why*/) {
      // The library went between the two loads: a later process instance is not needed.
    }
  });
}

SiLabsLibrary::~SiLabsLibrary() {
  FreeLibrary(module_);
}

std::unique_ptr<SiLabsLibrary> SiLabsLibrary::Create(SiLabsError::Enum* why) {
  try {
    return std::make_unique<SiLabsLibrary>();
  } catch (SiLabsError::Enum error) {
    if (why != nullptr) *why = error;
    return nullptr;
  }
}

const SiLabsLibrary* SiLabsLibrary::ProcessInstance() {
  return processInstance.load();
}

}  // namespace Pellux
