#include <windows.h>

#include <cstddef>
#include <exception>
#include <string>

#include "base/system_error.h"
#include "sim/stand_in/stand_in_config_file.h"

namespace Pellux::StandIn {
namespace {

std::string LowerCased(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The whole file, or false with a problem noted; a missing file is not found, without a problem.
bool ReadWholeFile(ConfigFile& file, std::string& contents) {
  const HANDLE handle = CreateFileA(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      file.problems.push_back(SystemCallFailure("CreateFileA", file.path, code));
    }
    return false;
  }
  file.found = true;
  LARGE_INTEGER size{};
  bool read = false;
  if (GetFileSizeEx(handle, &size) == 0) {
    file.problems.push_back(SystemCallFailure("GetFileSizeEx", file.path, GetLastError()));
  } else if (size.QuadPart > static_cast<LONGLONG>(kConfigFileLimit)) {
    file.problems.push_back(file.path + " is larger than " + std::to_string(kConfigFileLimit) +
                            " bytes");
  } else {
    contents.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!contents.empty() && ReadFile(handle, contents.data(), static_cast<DWORD>(contents.size()),
                                      &got, nullptr) == 0) {
      file.problems.push_back(SystemCallFailure("ReadFile", file.path, GetLastError()));
    } else {
      contents.resize(got);
      read = true;
    }
  }
  CloseHandle(handle);
  return read;
}

}  // namespace

ConfigFile ReadConfigFile(const void* addressInLibrary) {
  ConfigFile file;
  HMODULE module = nullptr;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(addressInLibrary), &module) == 0) {
    file.problems.push_back(SystemCallFailure("GetModuleHandleExA", "", GetLastError()));
    return file;
  }
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    file.problems.push_back(SystemCallFailure("GetModuleFileNameA", "", GetLastError()));
    return file;
  }
  const std::string library(path, length);
  const auto slash = library.find_last_of("\\/");
  const std::string name = slash == std::string::npos ? library : library.substr(slash + 1);
  file.path = library.substr(0, slash == std::string::npos ? 0 : slash + 1) + kConfigFileName;

  std::string contents;
  if (!ReadWholeFile(file, contents)) return file;
  try {
    const nlohmann::json parsed = nlohmann::json::parse(contents);
    if (!parsed.is_object()) {
      file.problems.push_back(file.path + ": not a JSON object");
      return file;
    }
    for (const auto& [member, requests] : parsed.items()) {
      if (LowerCased(member) != LowerCased(name)) continue;
      if (!requests.is_array()) {
        file.problems.push_back(file.path + ": " + member + " is not an array of requests");
        continue;
      }
      for (const nlohmann::json& request : requests) file.requests.push_back(request);
    }
  } catch (const std::exception& error) {
    file.problems.push_back(file.path + ": " + error.what());
  }
  return file;
}

nlohmann::json ApplyConfigFile(const ConfigFile& file,
                               const std::function<nlohmann::json(const nlohmann::json&)>& run) {
  nlohmann::json problems = file.problems;
  int applied = 0;
  for (std::size_t i = 0; i < file.requests.size(); ++i) {
    const nlohmann::json& request = file.requests[i];
    const std::string which = "request " + std::to_string(i) + ": ";
    if (!request.is_object()) {
      problems.push_back(which + "not an object");
      continue;
    }
    try {
      const nlohmann::json reply = run(request);
      if (!reply.value("ok", false)) {
        problems.push_back(which + reply.value("error", std::string("failed")));
        continue;
      }
      ++applied;
    } catch (const std::exception& error) {
      problems.push_back(which + error.what());
    }
  }
  return {{"file", file.path}, {"found", file.found}, {"applied", applied}, {"problems", problems}};
}

}  // namespace Pellux::StandIn
