#include <windows.h>

#include <utility>
#include <vector>

#include "base/system_error.h"
#include "ui/program_version.h"
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

WinUserInterfaceParts::WinUserInterfaceParts(const std::string& programFolder,
                                             std::unique_ptr<LogFolder> folder,
                                             NamedPipeReplyChannel::Log replyLog)
    : replies(std::move(replyLog)),
      logFolder(folder != nullptr ? std::move(folder) : LogFolder::CreateForPlatform()),
      debug(DebugOutput::CreateForPlatform()) {
  std::string where = programFolder;
  if (where.empty()) where = WinUserInterface::ProgramFolder(templateProblem);
  if (where.empty()) return;
  errorTemplate =
      ReadTemplate(where + "\\" + WinUserInterface::kErrorTemplatePath, templateProblem);
}

WinUserInterface::WinUserInterface(SettingsStore& settings, NetworkWorkerPool& pool,
                                   NetworkWorkerPool::Completion answers, const Clock& clock,
                                   const std::string& programFolder,
                                   std::unique_ptr<LogFolder> folder)
    : WinUserInterfaceParts(
          programFolder, std::move(folder),
          [this](const std::string& line, int level) { Log(line, level, kNoContext); }),
      ServiceUserInterface(Parts{settings, pool, replies, strings, std::move(answers),
                                 errorTemplate, templateProblem, *logFolder, *debug, clock,
                                 ProgramVersion::OfThisProgram().text}) {}

std::unique_ptr<PipeServer> WinUserInterface::MakeListener(const std::string& name,
                                                           NamedPipeServer::Limits limits) {
  return std::make_unique<NamedPipeServer>(
      name, [this](const std::string& line, int level) { Log(line, level, kNoContext); }, limits);
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
