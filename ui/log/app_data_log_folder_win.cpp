#include "ui/log/app_data_log_folder_win.h"

#include <shlobj.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <utility>

#include "base/system_error.h"

namespace Pellux {
namespace {

// FILETIME counts 100-nanosecond units since 1601-01-01; this many lie before 1970-01-01.
constexpr std::uint64_t kFileTimeAtUnixEpoch = 116444736000000000ULL;

FolderFailure Failed(const char* call, const std::string& subject, unsigned long code) {
  return {code, SystemCallFailure(call, subject, code)};
}

std::chrono::system_clock::time_point TimeOf(const FILETIME& stamp) {
  const std::uint64_t units =
      (static_cast<std::uint64_t>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime;
  const auto sinceUnixEpoch = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>(
      static_cast<std::int64_t>(units - kFileTimeAtUnixEpoch));
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(sinceUnixEpoch));
}

class HandleLogFile final : public LogFile {
 public:
  HandleLogFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~HandleLogFile() override { CloseHandle(handle_); }

  bool Append(const std::string& bytes, FolderFailure& failure) override {
    // WriteFile hands the bytes straight to the system: nothing waits in a buffer of ours if
    // the process ends.
    const char* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
      DWORD written = 0;
      if (!WriteFile(handle_, next, static_cast<DWORD>(left), &written, nullptr)) {
        failure = Failed("WriteFile", path_, GetLastError());
        return false;
      }
      if (written == 0) {
        failure = Failed("WriteFile", path_, ERROR_WRITE_FAULT);
        return false;
      }
      next += written;
      left -= written;
    }
    return true;
  }

 private:
  const HANDLE handle_;
  const std::string path_;
};

}  // namespace

AppDataLogFolder::AppDataLogFolder(std::string baseFolder) : baseFolder_(std::move(baseFolder)) {}

std::string AppDataLogFolder::LogFolderBelow(const std::string& baseFolder) {
  return baseFolder + "\\Pellux\\Tracker\\logs";
}

bool AppDataLogFolder::Locate(std::string& path, FolderFailure& failure) {
  if (!baseFolder_.empty()) {
    path = LogFolderBelow(baseFolder_);
    return true;
  }
  std::array<char, MAX_PATH> common{};
  // CSIDL_FLAG_CREATE: a machine without the folder yet gets it, as the log needs it.
  const HRESULT result = SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE,
                                          nullptr, SHGFP_TYPE_CURRENT, common.data());
  if (FAILED(result)) {
    failure =
        Failed("SHGetFolderPathA", "CSIDL_COMMON_APPDATA", static_cast<unsigned long>(result));
    return false;
  }
  path = LogFolderBelow(common.data());
  return true;
}

bool AppDataLogFolder::Create(FolderFailure& failure) {
  std::string path;
  if (!Locate(path, failure)) return false;
  // SHCreateDirectoryExA makes the missing parents too; a folder (or a file) already there is
  // reported as such and counts as success, as the file's creation then tells the truth.
  const int result = SHCreateDirectoryExA(nullptr, path.c_str(), nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS) {
    return true;
  }
  failure = Failed("SHCreateDirectoryExA", path, static_cast<unsigned long>(result));
  return false;
}

bool AppDataLogFolder::List(std::vector<Entry>& files, FolderFailure& failure) {
  std::string folder;
  if (!Locate(folder, failure)) return false;
  const std::string pattern = folder + "\\log-*.txt";
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    // No match, or no folder yet: nothing to clean.
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    failure = Failed("FindFirstFileA", pattern, code);
    return false;
  }
  bool complete = true;
  do {
    // A folder named like a log file is none of ours.
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      files.push_back({folder + "\\" + found.cFileName, TimeOf(found.ftCreationTime)});
    }
    if (!FindNextFileA(search, &found)) {
      const DWORD code = GetLastError();
      if (code != ERROR_NO_MORE_FILES) {
        failure = Failed("FindNextFileA", pattern, code);
        complete = false;
      }
      break;
    }
  } while (true);
  FindClose(search);
  return complete;
}

bool AppDataLogFolder::Remove(const std::string& path, FolderFailure& failure) {
  if (DeleteFileA(path.c_str())) return true;
  failure = Failed("DeleteFileA", path, GetLastError());
  return false;
}

LogFolder::CreateResult AppDataLogFolder::CreateNew(const std::string& name,
                                                    std::unique_ptr<LogFile>& file,
                                                    std::string& path, FolderFailure& failure) {
  std::string folder;
  if (!Locate(folder, failure)) return CreateResult::kFailed;
  const std::string full = folder + "\\" + name;
  // CREATE_NEW: never replace nor write into a file already there. Readers may look at the
  // file while the service writes it.
  const HANDLE handle =
      CreateFileA(full.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return CreateResult::kNameTaken;
    failure = Failed("CreateFileA", full, code);
    return CreateResult::kFailed;
  }
  file = std::make_unique<HandleLogFile>(handle, full);
  path = full;
  return CreateResult::kCreated;
}

}  // namespace Pellux
