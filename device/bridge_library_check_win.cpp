#include "device/bridge_library_check_win.h"

#include <windows.h>

#include "base/system_error.h"
#include "device/bridge_library_files.h"
#include "device/cm_library_win.h"
#include "device/library_path_win.h"
#include "device/libusb_library_win.h"
#include "device/silabs_library_win.h"

namespace Pellux {
namespace {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// Why the library `file` in `folder` cannot be had, or nothing when it can. Its loader,
// `Library`, tells a function missing from its table.
template <typename Library, typename Error>
std::string Problem(const std::wstring& folder, const wchar_t* file) {
  const std::wstring path = folder + file;
  const std::string shownFolder = Narrow(folder);
  const std::string shownFile = Narrow(file);
  const std::string shownPath = Narrow(path);
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    return shownFile + " is not in " + shownFolder + " (" +
           SystemCallFailure("GetFileAttributesW", shownPath, code) + ")";
  }
  const HMODULE module = LoadLibraryByFullPath(path);
  if (module == nullptr) {
    const DWORD code = GetLastError();
    return shownFile + " in " + shownFolder + " cannot be loaded (" +
           SystemCallFailure("LoadLibraryExW", shownPath, code) + ")";
  }
  FreeLibrary(module);
  typename Error::Enum why{};
  if (!Library::Create(&why) && why == Error::kFunctionMissing) {
    return shownFile + " in " + shownFolder + " lacks a function the service calls";
  }
  return {};
}

}  // namespace

std::vector<std::string> MissingBridgeLibraries() {
  const std::wstring folder = ProgramFolder();
  struct Family {
    std::string problem;
    const char* devices;
  };
  const Family families[] = {
      {Problem<SiLabsLibrary, SiLabsError>(folder, SiLabsLibrary::kFileName),
       kBridgeLibraryFiles[0].absent},
      {Problem<CMLibrary, CMError>(folder, CMLibrary::kFileName), kBridgeLibraryFiles[1].absent},
      {Problem<LibusbLibrary, LibusbError>(folder, LibusbLibrary::kFileName),
       kBridgeLibraryFiles[2].absent},
  };
  std::vector<std::string> lines;
  for (const Family& family : families) {
    if (!family.problem.empty()) {
      lines.push_back("Bridge library " + family.problem + ": " + family.devices);
    }
  }
  return lines;
}

}  // namespace Pellux
