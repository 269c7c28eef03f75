#pragma once

#include <windows.h>

#include <memory>

#include "device/bridge_api_win.h"

namespace Pellux {

// Why a bridge library could not be had. Thrown by the constructors; the factories turn it
// into plain failure.
struct SiLabsError {
  enum Enum {
    kLibraryMissing = 1,   // the file could not be loaded from the program's folder
    kFunctionMissing = 2,  // a listed function is missing; the library was unloaded again
  };
};

// DSI_SiUSBXp_3_1.DLL, the Silicon Labs USBXpress library, loaded only by full path from the
// program's own folder, with every function of its table bound. The first instance
// made also makes the one process-wide instance, which keeps the library loaded for the rest
// of the process's life (and is never destroyed, so that no thread left inside the library
// at exit finds it gone); later instances load and unload it around their own use.
//
// Thread-safe to make and use from any thread; the functions are the library's own.
class SiLabsLibrary {
 public:
  static constexpr const wchar_t* kFileName = L"DSI_SiUSBXp_3_1.DLL";

  // Throws SiLabsError::Enum.
  SiLabsLibrary();
  SiLabsLibrary(const SiLabsLibrary&) = delete;
  SiLabsLibrary& operator=(const SiLabsLibrary&) = delete;
  ~SiLabsLibrary();

  // A loaded library, or null (and `why`, when given) when it cannot be had.
  static std::unique_ptr<SiLabsLibrary> Create(SiLabsError::Enum* why = nullptr);
  // The process-wide instance; null until an instance was first made.
  static const SiLabsLibrary* ProcessInstance();

  [[nodiscard]] HMODULE Module() const { return module_; }

  SiApi::SI_OpenFunction SI_Open = nullptr;
  SiApi::SI_GetNumDevicesFunction SI_GetNumDevices = nullptr;
  SiApi::SI_CloseFunction SI_Close = nullptr;
  SiApi::SI_ReadFunction SI_Read = nullptr;
  SiApi::SI_WriteFunction SI_Write = nullptr;
  SiApi::SI_SetTimeoutsFunction SI_SetTimeouts = nullptr;
  SiApi::SI_GetTimeoutsFunction SI_GetTimeouts = nullptr;
  SiApi::SI_SetBaudRateFunction SI_SetBaudRate = nullptr;
  SiApi::SI_SetLineControlFunction SI_SetLineControl = nullptr;
  SiApi::SI_SetFlowControlFunction SI_SetFlowControl = nullptr;
  SiApi::SI_FlushBuffersFunction SI_FlushBuffers = nullptr;
  SiApi::SI_CheckRXQueueFunction SI_CheckRXQueue = nullptr;
  SiApi::SI_GetProductStringFunction SI_GetProductString = nullptr;

 private:
  struct Load {};
  explicit SiLabsLibrary(Load /*tag*/);

  HMODULE module_ = nullptr;
};

}  // namespace Pellux
