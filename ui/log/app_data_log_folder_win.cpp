#include "ui/log/app_data_log_folder_win.h"

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <windows.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "base/system_error.h"

namespace Pellux {
namespace {

// FILETIME counts 100-nanosecond units since 1601-01-01; this many lie before 1970-01-01.
constexpr std::uint64_t kFileTimeAtUnixEpoch = 116444736000000000ULL;

constexpr const char* kLevels[] = {"Pellux", "Tracker", "logs"};
constexpr const char* kLocalSystem = "S-1-5-18";
constexpr const char* kAdministrators = "S-1-5-32-544";
// Others may read, write and delete the files and folders while we hold them open: only those
// the access list lets in.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FolderFailure Failed(const char* call, const std::string& subject, unsigned long code) {
  return {code, SystemCallFailure(call, subject, code)};
}

FolderFailure Refused(const std::string& reason) {
  return {ERROR_ACCESS_DENIED, AppDataLogFolder::kRefused + reason};
}

bool IsMissing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Closes a file handle whichever way the check ends.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (Valid()) CloseHandle(handle_);
  }
  [[nodiscard]] bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  [[nodiscard]] HANDLE Get() const { return handle_; }
  // Hands the handle over; this object no longer closes it.
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// The folders' descriptor, made from kFolderSddl.
class FolderSecurity {
 public:
  FolderSecurity() {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
            AppDataLogFolder::kFolderSddl, SDDL_REVISION_1, &descriptor_, nullptr) == 0) {
      failure_ = Failed("ConvertStringSecurityDescriptorToSecurityDescriptorA",
                        AppDataLogFolder::kFolderSddl, GetLastError());
      descriptor_ = nullptr;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  FolderSecurity(const FolderSecurity&) = delete;
  FolderSecurity& operator=(const FolderSecurity&) = delete;
  ~FolderSecurity() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  // The attributes for CreateDirectoryA; false, with `failure` set, when the descriptor could
  // not be made.
  bool Get(SECURITY_ATTRIBUTES*& attributes, FolderFailure& failure) {
    if (descriptor_ == nullptr) {
      failure = failure_;
      return false;
    }
    attributes = &attributes_;
    return true;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
  FolderFailure failure_;
};

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), size);
  return wide;
}

// Paths compared as the file system compares names: without regard to case.
bool SamePath(const std::string& one, const std::string& other) {
  const std::wstring a = Wide(one);
  const std::wstring b = Wide(other);
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether `path` names an entry directly in `folder`.
bool IsDirectlyIn(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == '\\' &&
         path.find('\\', folder.size() + 1) == std::string::npos &&
         SamePath(path.substr(0, folder.size()), folder);
}

// The path the system reaches `handle` by, links resolved ("\\?\C:\...").
bool FinalPathOf(HANDLE handle, const std::string& subject, std::string& path,
                 FolderFailure& failure) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleA(
        handle, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    if (length == 0) {
      failure = Failed("GetFinalPathNameByHandleA", subject, GetLastError());
      return false;
    }
    // Too small a buffer gives the size it needs, the terminator counted.
    if (length < buffer.size()) {
      path.assign(buffer.data(), length);
      return true;
    }
    buffer.resize(length);
  }
}

bool AttributesOf(HANDLE handle, const std::string& subject, DWORD& attributes,
                  FolderFailure& failure) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info) == 0) {
    failure = Failed("GetFileInformationByHandleEx", subject, GetLastError());
    return false;
  }
  attributes = info.FileAttributes;
  return true;
}

bool SidText(PSID sid, const std::string& subject, std::string& text, FolderFailure& failure) {
  char* converted = nullptr;
  if (ConvertSidToStringSidA(sid, &converted) == 0) {
    failure = Failed("ConvertSidToStringSidA", subject, GetLastError());
    return false;
  }
  text = converted;
  LocalFree(converted);
  return true;
}

bool OwnerOf(HANDLE handle, const std::string& subject, std::string& owner,
             FolderFailure& failure) {
  PSID sid = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid,
                                       nullptr, nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) {
    failure = Failed("GetSecurityInfo", subject, status);
    return false;
  }
  const bool converted = SidText(sid, subject, owner, failure);
  LocalFree(descriptor);
  return converted;
}

bool ProcessUser(std::string& user, FolderFailure& failure) {
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == 0) {
    failure = Failed("OpenProcessToken", "", GetLastError());
    return false;
  }
  std::vector<BYTE> buffer(256);
  DWORD size = 0;
  BOOL read = GetTokenInformation(token, TokenUser, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &size);
  if (read == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buffer.resize(size);
    read = GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
  }
  const DWORD code = GetLastError();
  CloseHandle(token);
  if (read == 0) {
    failure = Failed("GetTokenInformation", "TokenUser", code);
    return false;
  }
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, "TokenUser", user,
                 failure);
}

// The final path of the base folder. Links above our folders are the machine's own (a
// relocated ProgramData, say): the log folder is expected at this path below them. `missing`
// tells a base that is not there.
bool BaseFinalPath(const std::string& base, std::string& path, bool& missing,
                   FolderFailure& failure) {
  const FileHandle folder(CreateFileA(base.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder.Valid()) {
    const DWORD code = GetLastError();
    missing = IsMissing(code);
    failure = Failed("CreateFileA", base, code);
    return false;
  }
  return FinalPathOf(folder.Get(), base, path, failure);
}

// Whether the folder at `path`, already there, may hold the log: no reparse point, a folder,
// reached at `expected` (its final path), owned by LocalSystem, the administrators or us.
bool CheckFolder(const std::string& path, const std::string& expected, FolderFailure& failure) {
  // By name first: Wine marks a link it follows only here.
  const DWORD named = GetFileAttributesA(path.c_str());
  if (named == INVALID_FILE_ATTRIBUTES) {
    failure = Failed("GetFileAttributesA", path, GetLastError());
    return false;
  }
  const std::string aLink = path + " is a reparse point (a junction or a symbolic link)";
  if ((named & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    failure = Refused(aLink);
    return false;
  }
  // The handle is what counts: the folder may have been swapped since.
  const FileHandle folder(CreateFileA(
      path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.Valid()) {
    failure = Failed("CreateFileA", path, GetLastError());
    return false;
  }
  DWORD attributes = 0;
  if (!AttributesOf(folder.Get(), path, attributes, failure)) return false;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    failure = Refused(aLink);
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    failure = Refused(path + " is not a folder");
    return false;
  }
  std::string reached;
  if (!FinalPathOf(folder.Get(), path, reached, failure)) return false;
  if (!SamePath(reached, expected)) {
    failure = Refused(path + " leads to " + reached + ", not to " + expected);
    return false;
  }
  std::string owner;
  std::string user;
  if (!OwnerOf(folder.Get(), path, owner, failure) || !ProcessUser(user, failure)) return false;
  if (!AppDataLogFolder::IsTrustedOwner(owner, user)) {
    failure = Refused(path + " is owned by " + owner +
                      ", not by LocalSystem, the administrators or this service's account");
    return false;
  }
  return true;
}

// Checks each of the three folders below `base`, which are all there. `folder` gets the log
// folder's path and `reached` its final path; `missing` tells that the base or one of the
// three is not there.
bool CheckExistingFolders(const std::string& base, std::string& folder, std::string& reached,
                          bool& missing, FolderFailure& failure) {
  if (!BaseFinalPath(base, reached, missing, failure)) return false;
  folder = base;
  for (const char* level : kLevels) {
    folder += std::string("\\") + level;
    reached += std::string("\\") + level;
    if (GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD code = GetLastError();
      missing = IsMissing(code);
      failure = Failed("GetFileAttributesA", folder, code);
      return false;
    }
    if (!CheckFolder(folder, reached, failure)) return false;
  }
  return true;
}

// Deletes the file of `handle` (opened with DELETE access).
bool DeleteThrough(HANDLE handle, const std::string& subject, FolderFailure& failure) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) ==
      0) {
    failure = Failed("SetFileInformationByHandle", subject, GetLastError());
    return false;
  }
  return true;
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

bool AppDataLogFolder::IsTrustedOwner(const std::string& ownerSid,
                                      const std::string& processUserSid) {
  return ownerSid == kLocalSystem || ownerSid == kAdministrators ||
         (!ownerSid.empty() && ownerSid == processUserSid);
}

bool AppDataLogFolder::Base(std::string& base, FolderFailure& failure) const {
  if (!baseFolder_.empty()) {
    base = baseFolder_;
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
  base = common.data();
  return true;
}

bool AppDataLogFolder::Locate(std::string& path, FolderFailure& failure) {
  std::string base;
  if (!Base(base, failure)) return false;
  path = LogFolderBelow(base);
  return true;
}

bool AppDataLogFolder::Create(FolderFailure& failure) {
  std::string base;
  if (!Base(base, failure)) return false;
  // Only a test's base folder can be missing; it is made with its parents, as any folder.
  if (GetFileAttributesA(base.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const int result = SHCreateDirectoryExA(nullptr, base.c_str(), nullptr);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_EXISTS && result != ERROR_ALREADY_EXISTS) {
      failure = Failed("SHCreateDirectoryExA", base, static_cast<unsigned long>(result));
      return false;
    }
  }
  FolderSecurity security;
  SECURITY_ATTRIBUTES* attributes = nullptr;
  if (!security.Get(attributes, failure)) return false;
  std::string reached;
  bool missing = false;
  if (!BaseFinalPath(base, reached, missing, failure)) return false;
  std::string folder = base;
  for (const char* level : kLevels) {
    folder += std::string("\\") + level;
    reached += std::string("\\") + level;
    // A folder made here and now is ours; one already there may be anyone's.
    if (CreateDirectoryA(folder.c_str(), attributes) == 0) {
      const DWORD code = GetLastError();
      if (code != ERROR_ALREADY_EXISTS) {
        failure = Failed("CreateDirectoryA", folder, code);
        return false;
      }
    }
    if (!CheckFolder(folder, reached, failure)) return false;
  }
  return true;
}

bool AppDataLogFolder::List(std::vector<Entry>& files, FolderFailure& failure) {
  std::string base;
  if (!Base(base, failure)) return false;
  std::string folder;
  std::string reached;
  bool missing = false;
  if (!CheckExistingFolders(base, folder, reached, missing, failure)) {
    // No folder yet: nothing to clean.
    return missing;
  }
  const std::string pattern = folder + "\\log-*.txt";
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    // No match: nothing to clean.
    if (IsMissing(code)) return true;
    failure = Failed("FindFirstFileA", pattern, code);
    return false;
  }
  bool complete = true;
  do {
    // A folder named like a log file is none of ours, nor is a link.
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
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
  std::string base;
  std::string reached;
  bool missing = false;
  if (!Base(base, failure) || !BaseFinalPath(base, reached, missing, failure)) return false;
  reached = LogFolderBelow(reached);
  // The handle is the file's, or a link's own: nothing is followed in the last step.
  const FileHandle file(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
  if (!file.Valid()) {
    failure = Failed("CreateFileA", path, GetLastError());
    return false;
  }
  DWORD attributes = 0;
  if (!AttributesOf(file.Get(), path, attributes, failure)) return false;
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    failure = Refused(path + " is a link or a folder, not a log file: it is not deleted");
    return false;
  }
  std::string final;
  if (!FinalPathOf(file.Get(), path, final, failure)) return false;
  if (!IsDirectlyIn(final, reached)) {
    failure = Refused(path + " leads to " + final + ", outside the log folder " + reached +
                      ": it is not deleted");
    return false;
  }
  return DeleteThrough(file.Get(), path, failure);
}

LogFolder::CreateResult AppDataLogFolder::CreateNew(const std::string& name,
                                                    std::unique_ptr<LogFile>& file,
                                                    std::string& path, FolderFailure& failure) {
  std::string base;
  std::string reached;
  bool missing = false;
  if (!Base(base, failure) || !BaseFinalPath(base, reached, missing, failure)) {
    return CreateResult::kFailed;
  }
  const std::string full = LogFolderBelow(base) + "\\" + name;
  const std::string expected = LogFolderBelow(reached) + "\\" + name;
  // CREATE_NEW: never replace nor write into a file already there, nor follow a link of that
  // name. Readers may look at the file while the service writes it.
  FileHandle created(CreateFileA(full.c_str(), FILE_APPEND_DATA, kShareAll, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!created.Valid()) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return CreateResult::kNameTaken;
    failure = Failed("CreateFileA", full, code);
    return CreateResult::kFailed;
  }
  std::string final;
  if (!FinalPathOf(created.Get(), full, final, failure)) return CreateResult::kFailed;
  if (!SamePath(final, expected)) {
    // Made somewhere else through a link on its path: it is new and ours, so it goes again.
    std::string outcome = "it is deleted and not used";
    const FileHandle deleting(
        ReOpenFile(created.Get(), DELETE, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT));
    FolderFailure deleteFailure;
    if (!deleting.Valid()) {
      outcome = "it is not used, and " + SystemCallFailure("ReOpenFile", final, GetLastError());
    } else if (!DeleteThrough(deleting.Get(), final, deleteFailure)) {
      outcome = "it is not used, and " + deleteFailure.line;
    }
    failure = Refused(full + " was made as " + final + ", outside the log folder " +
                      LogFolderBelow(reached) + ": " + outcome);
    return CreateResult::kFailed;
  }
  file = std::make_unique<HandleLogFile>(created.Release(), full);
  path = full;
  return CreateResult::kCreated;
}

}  // namespace Pellux
