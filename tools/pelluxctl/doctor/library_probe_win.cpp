// The library probe of Windows: a library's first bytes, and the loader as the service uses it.

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "base/system_error.h"
#include "base/wide_text_win.h"
#include "device/library_path_win.h"
#include "tools/pelluxctl/doctor/library_probe.h"

namespace Pellux {
namespace {

bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

class WindowsLibraryProbe final : public LibraryProbe {
 public:
  LibraryFacts Inspect(const std::string& folder, const std::string& file) override {
    LibraryFacts facts;
    const std::string path = folder + file;
    const std::wstring widePath = WideFromUtf8(path);
    const HANDLE handle =
        CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      facts.state = IsMissing(code) ? LibraryFacts::State::kMissing : LibraryFacts::State::kFailed;
      facts.error = SystemCallFailure("CreateFileW", path, code);
      return facts;
    }
    std::array<char, kPortableExecutableHeadBytes> bytes{};
    DWORD got = 0;
    const BOOL read =
        ReadFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    const DWORD readError = GetLastError();
    CloseHandle(handle);
    if (read == 0) {
      facts.error = SystemCallFailure("ReadFile", path, readError);
      return facts;
    }
    facts.state = LibraryFacts::State::kPresent;
    facts.image = ReadPortableExecutableHeader(std::string_view(bytes.data(), got));
    if (!facts.image || !facts.image->library || facts.image->machine != ProgramMachine()) {
      return facts;
    }
    const HMODULE module = LoadLibraryByFullPath(widePath);
    if (module == nullptr) {
      facts.loadError = SystemCallFailure("LoadLibraryExW", path, GetLastError());
      return facts;
    }
    FreeLibrary(module);
    facts.loaded = true;
    return facts;
  }

  std::uint16_t ProgramMachine() override {
#if defined(_M_X64) || defined(__x86_64__)
    return IMAGE_FILE_MACHINE_AMD64;
#elif defined(_M_IX86) || defined(__i386__)
    return IMAGE_FILE_MACHINE_I386;
#elif defined(_M_ARM64) || defined(__aarch64__)
    return IMAGE_FILE_MACHINE_ARM64;
#else
#error "the machine of this build is not known"
#endif
  }
};

}  // namespace

std::unique_ptr<LibraryProbe> LibraryProbe::CreateForPlatform() {
  return std::make_unique<WindowsLibraryProbe>();
}

}  // namespace Pellux
