// pellux_setup.dll: the Windows installer's own actions, carried in the package's Binary table
// and never installed. The package (pellux.wxs) runs each as a deferred action without
// impersonation, that is as LocalSystem, and hands it its values in CustomActionData:
//
//   CopyVendorLibraries    "[VENDORDIR]|[ProgramFolder]"  the bridge libraries found in VENDORDIR,
//                                                         which is remembered for the next time
//   CreateDataFolder       ""                             ProgramData\Pellux\Tracker\logs,
//   protected RegisterService        "[ProgramFolder]"              the program's own /I, then
//   checked UnregisterService      "[ProgramFolder]"              the program's own /U, then
//   checked RemoveVendorLibraries  "[ProgramFolder]"              the copied libraries, when
//   uninstalling
//
// The service's registration is the program's own (its quoted path, description, event source
// and recovery actions), which a ServiceInstall row could not give: the program's switches exit
// with 0 whatever happened, so each run is checked against the service manager afterwards.
// Every line goes to the installer's log (msiexec /l*v); every failed call is logged with its
// code and the system's text.

// clang-format off
// windows.h first: msi.h defines the NTDDI values itself when nothing has yet.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "base/system_error.h"
#include "packaging/windows/setup_action_data.h"
#include "service/service_name.h"
#include "ui/log/app_data_log_folder_win.h"

namespace Pellux {
namespace {

// How long the program's /I or /U may take: /U waits up to 30 s for the service to stop.
constexpr DWORD kProgramWaitMs = 120000;

#if defined(_M_X64) || defined(__x86_64__)
constexpr std::uint16_t kOwnMachine = 0x8664;
#else
constexpr std::uint16_t kOwnMachine = 0x014c;
#endif

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                      nullptr, nullptr);
  return narrow;
}

// The installer's log of one action: each line starts with the action's name.
class InstallerLog {
 public:
  InstallerLog(MSIHANDLE install, const char* action) : install_(install), action_(action) {}

  void Line(const std::string& text) const {
    const MSIHANDLE record = MsiCreateRecord(0);
    if (record == 0) return;
    const std::wstring line = Wide(action_ + ": " + text);
    MsiRecordSetStringW(record, 0, line.c_str());
    MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
  }

 private:
  MSIHANDLE install_;
  std::string action_;
};

// The text the package handed this deferred action.
bool ActionData(MSIHANDLE install, const InstallerLog& log, std::string& data) {
  wchar_t none[1] = {};
  DWORD size = 0;
  UINT result = MsiGetPropertyW(install, L"CustomActionData", none, &size);
  if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS) {
    log.Line(SystemCallFailure("MsiGetPropertyW", "CustomActionData", result));
    return false;
  }
  std::vector<wchar_t> text(size + 1);
  size = static_cast<DWORD>(text.size());
  result = MsiGetPropertyW(install, L"CustomActionData", text.data(), &size);
  if (result != ERROR_SUCCESS) {
    log.Line(SystemCallFailure("MsiGetPropertyW", "CustomActionData", result));
    return false;
  }
  data = Narrow(std::wstring(text.data(), size));
  return true;
}

// The program folder the package hands over: a path it made itself ([ProgramFolder]), checked
// all the same, since its parts are properties too.
bool ProgramFolderOf(const std::string& given, const InstallerLog& log, std::string& folder) {
  std::string why;
  const auto checked = CheckedFolder(given, why);
  if (!checked) {
    log.Line("the program folder is refused: " + why);
    return false;
  }
  folder = *checked;
  return true;
}

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }
  void Reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
  [[nodiscard]] HANDLE Get() const { return handle_; }
  HANDLE* Out() { return &handle_; }

 private:
  HANDLE handle_;
};

// Runs `commandLine` without a window, its output and error streams into the log; true when it
// ran to its end within kProgramWaitMs.
bool RunProgram(const std::string& commandLine, const InstallerLog& log) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle readEnd;
  Handle writeEnd;
  if (CreatePipe(readEnd.Out(), writeEnd.Out(), &inherit, 0) == 0) {
    log.Line(SystemCallFailure("CreatePipe", commandLine, GetLastError()));
    return false;
  }
  if (SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0) == 0) {
    log.Line(SystemCallFailure("SetHandleInformation", commandLine, GetLastError()));
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd.Get();
  startup.hStdError = writeEnd.Get();
  PROCESS_INFORMATION process{};
  std::wstring line = Wide(commandLine);
  const std::wstring program = Wide(commandLine.substr(1, commandLine.find('"', 1) - 1));
  log.Line("running " + commandLine);
  if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                     nullptr, nullptr, &startup, &process) == 0) {
    log.Line(SystemCallFailure("CreateProcessW", commandLine, GetLastError()));
    return false;
  }
  const Handle processHandle(process.hProcess);
  const Handle threadHandle(process.hThread);
  // Ours closed, the pipe ends when the program's copies close: the reads below end with it.
  writeEnd.Reset();
  std::string output;
  char buffer[4096];
  DWORD read = 0;
  // The program's end closes the pipe (ERROR_BROKEN_PIPE): any other end is worth a line.
  for (;;) {
    if (ReadFile(readEnd.Get(), buffer, sizeof buffer, &read, nullptr) == 0) {
      const DWORD code = GetLastError();
      if (code != ERROR_BROKEN_PIPE) log.Line(SystemCallFailure("ReadFile", commandLine, code));
      break;
    }
    if (read == 0) break;
    output.append(buffer, read);
  }
  const DWORD waited = WaitForSingleObject(processHandle.Get(), kProgramWaitMs);
  std::size_t start = 0;
  while (start < output.size()) {
    const std::size_t end = output.find('\n', start);
    std::string text = output.substr(start, end == std::string::npos ? end : end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (!text.empty()) log.Line("  " + text);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (waited != WAIT_OBJECT_0) {
    log.Line(waited == WAIT_TIMEOUT
                 ? commandLine + " did not end within " + std::to_string(kProgramWaitMs / 1000) +
                       " s"
                 : SystemCallFailure("WaitForSingleObject", commandLine, GetLastError()));
    return false;
  }
  return true;
}

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
using ScHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;

// What the service manager holds for the service: `imagePath` its command line, when it has
// one. False when it could not be asked.
bool RegisteredService(const InstallerLog& log, bool& exists, std::string& imagePath) {
  exists = false;
  const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    log.Line(SystemCallFailure("OpenSCManagerW", "", GetLastError()));
    return false;
  }
  const ScHandle closeManager(manager);
  const std::wstring name = Wide(kPelluxServiceName);
  const SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG);
  if (service == nullptr) {
    const DWORD code = GetLastError();
    if (code == ERROR_SERVICE_DOES_NOT_EXIST) return true;
    log.Line(SystemCallFailure("OpenServiceW", kPelluxServiceName, code));
    return false;
  }
  const ScHandle closeService(service);
  exists = true;
  DWORD needed = 0;
  QueryServiceConfigW(service, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed > 0 ? needed : sizeof(QUERY_SERVICE_CONFIGW));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (QueryServiceConfigW(service, config, static_cast<DWORD>(buffer.size()), &needed) == 0) {
    log.Line(SystemCallFailure("QueryServiceConfigW", kPelluxServiceName, GetLastError()));
    return false;
  }
  imagePath = config->lpBinaryPathName != nullptr ? Narrow(config->lpBinaryPathName) : "";
  return true;
}

// Removes the service through the program in `folder` (its /U stops it first and removes its
// event source), and checks that it is gone.
bool Unregister(const std::string& folder, const InstallerLog& log) {
  bool exists = false;
  std::string imagePath;
  if (!RegisteredService(log, exists, imagePath)) return false;
  if (!exists) {
    log.Line(std::string("no service ") + kPelluxServiceName + " is registered");
    return true;
  }
  if (!RunProgram(ServiceSwitchCommand(folder, "/U"), log)) return false;
  if (!RegisteredService(log, exists, imagePath)) return false;
  if (exists) {
    log.Line(std::string("the service ") + kPelluxServiceName + " is still registered after /U");
    return false;
  }
  log.Line(std::string("the service ") + kPelluxServiceName + " is removed");
  return true;
}

// Whether `path` is a plain file (no folder, no link) whose image is built for this machine.
bool IsUsableLibrary(const std::wstring& path, const std::string& shown, const InstallerLog& log) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    log.Line(SystemCallFailure("GetFileAttributesW", shown, GetLastError()) + ": not copied");
    return false;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    log.Line(shown + " is a folder or a link, not a library: not copied");
    return false;
  }
  const Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    log.Line(SystemCallFailure("CreateFileW", shown, GetLastError()) + ": not copied");
    return false;
  }
  std::string head(kPortableExecutableHeadBytes, '\0');
  DWORD read = 0;
  if (ReadFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &read, nullptr) == 0) {
    log.Line(SystemCallFailure("ReadFile", shown, GetLastError()) + ": not copied");
    return false;
  }
  head.resize(read);
  const auto image = ReadPortableExecutableHeader(head);
  if (!image) {
    log.Line(shown + " is no Windows library (no PE image header): not copied");
    return false;
  }
  if (image->machine != kOwnMachine) {
    log.Line(shown + " is built for " + MachineName(image->machine) + ", the service for " +
             MachineName(kOwnMachine) + ": not copied");
    return false;
  }
  return true;
}

// Remembers `folder` for the next installation (the package's REMEMBEREDVENDORDIR), beside the
// settings, which no removal touches. Not remembered is worth a line only.
void RememberVendorFolder(const std::string& folder, const InstallerLog& log) {
  const wchar_t* key = L"Software\\Pellux\\Setup";
  HKEY opened = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   &opened, nullptr);
  if (status != ERROR_SUCCESS) {
    log.Line(SystemCallFailure("RegCreateKeyExW", "HKLM\\Software\\Pellux\\Setup",
                               static_cast<DWORD>(status)));
    return;
  }
  const std::wstring value = Wide(folder);
  status = RegSetValueExW(opened, L"VendorFolder", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) {
    log.Line(SystemCallFailure("RegSetValueExW", "HKLM\\Software\\Pellux\\Setup\\VendorFolder",
                               static_cast<DWORD>(status)));
  } else {
    log.Line("VENDORDIR " + folder + " is remembered for the next installation");
  }
  RegCloseKey(opened);
}

}  // namespace
}  // namespace Pellux

using Pellux::InstallerLog;

extern "C" {

// Copies each bridge library found in VENDORDIR into the program folder. A library missing there
// is no failure (the service runs without its family of devices and says so); one that is
// unusable (a folder, a link, not built for this machine) is passed over with a line; a copy
// that fails fails the installation, as what was asked for was not done.
__declspec(dllexport) UINT __stdcall CopyVendorLibraries(MSIHANDLE install) {
  const InstallerLog log(install, "CopyVendorLibraries");
  std::string data;
  if (!Pellux::ActionData(install, log, data)) return ERROR_INSTALL_FAILURE;
  const auto fields = Pellux::SplitVendorCopyData(data);
  if (!fields) {
    log.Line("the package handed no VENDORDIR and program folder: " + data);
    return ERROR_INSTALL_FAILURE;
  }
  std::string programFolder;
  if (!Pellux::ProgramFolderOf(fields->programFolder, log, programFolder)) {
    return ERROR_INSTALL_FAILURE;
  }
  if (fields->vendorFolder.empty()) {
    log.Line("no VENDORDIR given: no bridge library copied; the service looks for them in " +
             programFolder);
    return ERROR_SUCCESS;
  }
  std::string why;
  const auto vendorFolder = Pellux::CheckedFolder(fields->vendorFolder, why);
  if (!vendorFolder) {
    // Refused, not failed: the service installs and runs without the libraries.
    log.Line("VENDORDIR refused, no bridge library copied: " + why);
    return ERROR_SUCCESS;
  }
  const std::wstring wideFolder = Pellux::Wide(*vendorFolder);
  const DWORD attributes = GetFileAttributesW(wideFolder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    log.Line("VENDORDIR " + *vendorFolder + " is no folder (" +
             (attributes == INVALID_FILE_ATTRIBUTES
                  ? Pellux::SystemCallFailure("GetFileAttributesW", *vendorFolder, GetLastError())
                  : std::string("a file")) +
             "): no bridge library copied");
    return ERROR_SUCCESS;
  }
  Pellux::RememberVendorFolder(*vendorFolder, log);
  for (const Pellux::BridgeLibraryFile& library : Pellux::kBridgeLibraryFiles) {
    const std::string source = *vendorFolder + library.name;
    const std::string target = programFolder + library.name;
    const std::wstring wideSource = Pellux::Wide(source);
    if (GetFileAttributesW(wideSource.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD code = GetLastError();
      log.Line(Pellux::SystemCallFailure("GetFileAttributesW", source, code) + ": without it, " +
               library.absent);
      continue;
    }
    if (!Pellux::IsUsableLibrary(wideSource, source, log)) continue;
    const std::wstring wideTarget = Pellux::Wide(target);
    if (CopyFileW(wideSource.c_str(), wideTarget.c_str(), FALSE) == 0) {
      log.Line(Pellux::SystemCallFailure("CopyFileW", source + " -> " + target, GetLastError()));
      return ERROR_INSTALL_FAILURE;
    }
    log.Line("copied " + source + " to " + target);
  }
  return ERROR_SUCCESS;
}

// Deletes the bridge libraries from the program folder (the package does not list them, so its
// own removal leaves them), so that an uninstalled program leaves no folder behind. A newer
// version that removed an older copies them again from the remembered VENDORDIR.
__declspec(dllexport) UINT __stdcall RemoveVendorLibraries(MSIHANDLE install) {
  const InstallerLog log(install, "RemoveVendorLibraries");
  std::string data;
  std::string folder;
  if (!Pellux::ActionData(install, log, data) || !Pellux::ProgramFolderOf(data, log, folder)) {
    return ERROR_INSTALL_FAILURE;
  }
  for (const Pellux::BridgeLibraryFile& library : Pellux::kBridgeLibraryFiles) {
    const std::string path = folder + library.name;
    if (DeleteFileW(Pellux::Wide(path).c_str()) != 0) {
      log.Line("deleted " + path);
      continue;
    }
    const DWORD code = GetLastError();
    // One never copied is no failure; one that stays is only worth a line: the folder stays.
    if (code != ERROR_FILE_NOT_FOUND)
      log.Line(Pellux::SystemCallFailure("DeleteFileW", path, code));
  }
  return ERROR_SUCCESS;
}

// Makes the activity log's folders, ProgramData\Pellux\Tracker\logs, with their protected access
// list, as the service does when its log is switched on (AppDataLogFolder). Made at install, they
// are the installer's (LocalSystem's) before any user could make "Pellux" in ProgramData, where
// any user may create folders. A folder already there that the service would refuse stays as it
// is: the line says why, and the service keeps no log until an administrator removes it.
__declspec(dllexport) UINT __stdcall CreateDataFolder(MSIHANDLE install) {
  const InstallerLog log(install, "CreateDataFolder");
  Pellux::AppDataLogFolder folder;
  Pellux::FolderFailure failure;
  std::string path;
  if (!folder.Locate(path, failure)) {
    log.Line(failure.line);
    return ERROR_SUCCESS;
  }
  if (!folder.Create(failure)) {
    log.Line("the activity log's folder " + path + " is not usable: " + failure.line);
    return ERROR_SUCCESS;
  }
  log.Line("the activity log's folder " + path + " is there, with the access list " +
           Pellux::AppDataLogFolder::kFolderSddl);
  return ERROR_SUCCESS;
}

// Registers the service with the program's own /I (a service of that name already registered,
// from an earlier installation by hand say, is removed first with /U), then checks that the
// service manager holds it with the program's quoted path.
__declspec(dllexport) UINT __stdcall RegisterService(MSIHANDLE install) {
  const InstallerLog log(install, "RegisterService");
  std::string data;
  std::string folder;
  if (!Pellux::ActionData(install, log, data) || !Pellux::ProgramFolderOf(data, log, folder)) {
    return ERROR_INSTALL_FAILURE;
  }
  bool exists = false;
  std::string imagePath;
  if (!Pellux::RegisteredService(log, exists, imagePath)) return ERROR_INSTALL_FAILURE;
  if (exists) {
    log.Line(std::string("a service ") + Pellux::kPelluxServiceName + " is registered already (" +
             imagePath + "): removed first");
    if (!Pellux::Unregister(folder, log)) return ERROR_INSTALL_FAILURE;
  }
  if (!Pellux::RunProgram(Pellux::ServiceSwitchCommand(folder, "/I"), log)) {
    return ERROR_INSTALL_FAILURE;
  }
  if (!Pellux::RegisteredService(log, exists, imagePath)) return ERROR_INSTALL_FAILURE;
  if (!exists) {
    log.Line(std::string("no service ") + Pellux::kPelluxServiceName + " is registered after /I");
    return ERROR_INSTALL_FAILURE;
  }
  if (!Pellux::IsServiceImagePath(imagePath, folder)) {
    log.Line(std::string("the service ") + Pellux::kPelluxServiceName + " runs " + imagePath +
             ", not " + Pellux::ServiceImagePath(folder));
    return ERROR_INSTALL_FAILURE;
  }
  log.Line(std::string("the service ") + Pellux::kPelluxServiceName + " is registered as " +
           imagePath);
  return ERROR_SUCCESS;
}

// Removes the service with the program's own /U and checks that it is gone: when uninstalling,
// and as the rollback of RegisterService.
__declspec(dllexport) UINT __stdcall UnregisterService(MSIHANDLE install) {
  const InstallerLog log(install, "UnregisterService");
  std::string data;
  std::string folder;
  if (!Pellux::ActionData(install, log, data) || !Pellux::ProgramFolderOf(data, log, folder)) {
    return ERROR_INSTALL_FAILURE;
  }
  return Pellux::Unregister(folder, log) ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

}  // extern "C"
