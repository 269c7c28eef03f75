#include <windows.h>

#include <utility>
#include <vector>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "ui/log/program_version.h"
#include "ui/system/relaunch_command.h"
#include "ui/system/system_info_win.h"
#include "ui/win_user_interface.h"

namespace Pellux {
namespace {

// Reads the template at `path`: empty, with `problem` set, when it is missing, unreadable or
// larger than the limit.
std::string ReadTemplate(const std::string& path, std::string& problem) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    problem = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                  ? path + " is missing"
                  : SystemCallFailure("CreateFileA", path, code);
    return {};
  }
  std::string text;
  std::vector<char> piece(4096);
  for (;;) {
    DWORD read = 0;
    if (ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr) == 0) {
      problem = SystemCallFailure("ReadFile", path, GetLastError());
      text.clear();
      break;
    }
    if (read == 0) break;
    text.append(piece.data(), read);
    if (text.size() > WinUserInterface::kMaxTemplateBytes) {
      problem = path + " is larger than " + std::to_string(WinUserInterface::kMaxTemplateBytes) +
                " bytes";
      text.clear();
      break;
    }
  }
  CloseHandle(file);
  return text;
}

}  // namespace

WinUserInterfaceParts::WinUserInterfaceParts(const std::string& givenFolder,
                                             std::unique_ptr<LogFolder> folder,
                                             NamedPipeReplyChannel::Log replyLog, HMODULE resources)
    : replies(std::move(replyLog)),
      strings(resources),
      logFolder(folder != nullptr ? std::move(folder) : LogFolder::CreateForPlatform()),
      debug(DebugOutput::CreateForPlatform()) {
  ownFolder = givenFolder.empty() ? WinUserInterface::ProgramFolder(templateProblem) : givenFolder;
  if (ownFolder.empty()) return;
  errorTemplate =
      ReadTemplate(ownFolder + "\\" + WinUserInterface::kErrorTemplatePath, templateProblem);
}

WinUserInterface::WinUserInterface(SettingsStore& settings, NetworkWorkerPool& pool,
                                   NetworkWorkerPool::Completion answers, const Clock& clock,
                                   const std::string& programFolder,
                                   std::unique_ptr<LogFolder> folder, HMODULE resources)
    : WinUserInterfaceParts(
          programFolder, std::move(folder),
          [this](const std::string& line, int level) { Log(line, level, kNoContext); }, resources),
      ServiceUserInterface(Parts{settings, pool, replies, authority, strings, std::move(answers),
                                 errorTemplate, templateProblem, *logFolder, *debug, clock,
                                 ProgramVersion::OfThisProgram().text}) {}

std::unique_ptr<PipeServer> WinUserInterface::MakeListener(const std::string& name,
                                                           NamedPipeServer::Limits limits) {
  return std::make_unique<NamedPipeServer>(
      name, [this](const std::string& line, int level) { Log(line, level, kNoContext); }, limits);
}

bool WinUserInterface::Relaunch(std::uint16_t vendorId, std::uint16_t productId) {
  const ProblemReporter problem = [this](const std::string& line) {
    Log(line, LogLevel::kError, kNoContext);
  };
  const SystemRecords records = ReadSystemRecords(problem);
  const auto commandLine =
      RelaunchCommandLine(ownFolder, RebooterSuffix(records.processorArchitecture), vendorId,
                          productId, GetCurrentProcessId());
  if (!commandLine) {
    Log(FormatLine("Cannot relaunch: no command line of at most %d characters starts the "
                   "rebooter in the program folder '%s'",
                   static_cast<int>(kRelaunchCommandLimit - 1), ownFolder)
            .str(),
        LogLevel::kError, kNoContext);
    return false;
  }
  Log(FormatLine("Relaunching application:  %s", *commandLine).str(), LogLevel::kError, kNoContext);
  std::vector<char> line(commandLine->begin(), commandLine->end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process) == 0) {
    const DWORD code = GetLastError();
    Log(FormatLine("CreateProcess() failed: %d", static_cast<int>(code)).str(), LogLevel::kError,
        kNoContext);
    Log(SystemCallFailure("CreateProcessA", *commandLine, code), LogLevel::kError, kNoContext);
    return false;
  }
  // The rebooter runs on its own; this process does not wait for it (it is to be ended by it).
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

std::string WinUserInterface::ProgramFolder(std::string& problem) {
  std::vector<char> path(32768);
  const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) {
    problem = SystemCallFailure("GetModuleFileNameA", "", GetLastError());
    return {};
  }
  const std::string program(path.data(), length);
  const auto slash = program.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : program.substr(0, slash);
}

}  // namespace Pellux
