#include "ui/log/program_version_win.h"

#include <windows.h>

#include <array>
#include <vector>

#include "base/system_error.h"

namespace Pellux {

ProgramVersion ReadFileVersion(const std::string& path) {
  ProgramVersion version;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) {
    version.failure = SystemCallFailure("GetFileVersionInfoSizeA", path, GetLastError());
    return version;
  }
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data())) {
    version.failure = SystemCallFailure("GetFileVersionInfoA", path, GetLastError());
    return version;
  }
  void* found = nullptr;
  UINT length = 0;
  // "\" is the root block, VS_FIXEDFILEINFO with the numbers.
  if (!VerQueryValueA(block.data(), "\\", &found, &length) || found == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    version.failure = "VerQueryValueA(" + path + ", \\) found no fixed file version";
    return version;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(found);
  if (fixed->dwSignature != VS_FFI_SIGNATURE) {
    version.failure = "VerQueryValueA(" + path + ", \\) found no fixed file version";
    return version;
  }
  version.text = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                 std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                 std::to_string(HIWORD(fixed->dwFileVersionLS));
  return version;
}

ProgramVersion ProgramVersion::OfThisProgram() {
  std::array<char, MAX_PATH> path{};
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    // A path cut at MAX_PATH names another file, or none.
    const unsigned long code = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
    return {"", SystemCallFailure("GetModuleFileNameA", "", code)};
  }
  return ReadFileVersion(std::string(path.data(), length));
}

}  // namespace Pellux
