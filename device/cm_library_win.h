#pragma once

#include <windows.h>

#include <memory>

#include "device/bridge_api_win.h"

namespace Pellux {

// Why a bridge library could not be had. Thrown by the constructors; the factories turn it
// into plain failure.
struct CMError {
  enum Enum {
    kLibraryMissing = 1,   // the file could not be loaded from the program's folder
    kFunctionMissing = 2,  // a listed function is missing; the library was unloaded again
  };
};

// DSI_CP210xManufacturing_3_1.dll, the Silicon Labs CP210x manufacturing library (the liveness
// probe and the reset of an open bridge), loaded only by full path from the program's own
// folder, with every function of its table bound. The first instance made also makes the
// one process-wide instance, which keeps the library loaded for the rest of the process's life
// (never destroyed); later instances load and unload it around their own use.
//
// Thread-safe to make and use from any thread; the functions are the library's own.
class CMLibrary {
 public:
  static constexpr const wchar_t* kFileName = L"DSI_CP210xManufacturing_3_1.dll";

  // Throws CMError::Enum.
  CMLibrary();
  CMLibrary(const CMLibrary&) = delete;
  CMLibrary& operator=(const CMLibrary&) = delete;
  ~CMLibrary();

  // A loaded library, or null (and `why`, when given) when it cannot be had.
  static std::unique_ptr<CMLibrary> Create(CMError::Enum* why = nullptr);
  // The process-wide instance; null until an instance was first made.
  static const CMLibrary* ProcessInstance();

  [[nodiscard]] HMODULE Module() const { return module_; }

  CpApi::CP210x_GetDeviceProductStringFunction CP210x_GetDeviceProductString = nullptr;
  CpApi::CP210x_GetDeviceSerialNumberFunction CP210x_GetDeviceSerialNumber = nullptr;
  CpApi::CP210x_GetDeviceVidFunction CP210x_GetDeviceVid = nullptr;
  CpApi::CP210x_GetDevicePidFunction CP210x_GetDevicePid = nullptr;
  CpApi::CP210x_ResetFunction CP210x_Reset = nullptr;

 private:
  struct Load {};
  explicit CMLibrary(Load /*tag*/);

  HMODULE module_ = nullptr;
};

}  // namespace Pellux
