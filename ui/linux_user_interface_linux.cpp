#include <unistd.h>

#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "ui/atomic_file.h"
#include "ui/linux_user_interface.h"
#include "ui/program_version.h"

namespace Pellux {

LinuxUserInterfaceParts::LinuxUserInterfaceParts(const std::string& programFolder,
                                                 UnixReplyChannel::Log replyLog)
    : replies(owners, std::move(replyLog)),
      logFolder(LogFolder::CreateForPlatform()),
      debug(DebugOutput::CreateForPlatform()) {
  std::string folder = programFolder;
  if (folder.empty()) folder = LinuxUserInterface::ProgramFolder(templateProblem);
  if (folder.empty()) return;
  const std::string path = folder + "/" + LinuxUserInterface::kErrorTemplatePath;
  std::string error;
  switch (ReadWholeFile(path, LinuxUserInterface::kMaxTemplateBytes, errorTemplate, error)) {
    case FileReadResult::kRead:
      if (errorTemplate.size() > LinuxUserInterface::kMaxTemplateBytes) {
        errorTemplate.clear();
        templateProblem = path + " is larger than " +
                          std::to_string(LinuxUserInterface::kMaxTemplateBytes) + " bytes";
      }
      break;
    case FileReadResult::kMissing:
      templateProblem = path + " is missing";
      break;
    case FileReadResult::kFailed:
      templateProblem = error;
      break;
  }
}

LinuxUserInterface::LinuxUserInterface(SettingsStore& settings, NetworkWorkerPool& pool,
                                       NetworkWorkerPool::Completion answers, const Clock& clock,
                                       const std::string& programFolder)
    : LinuxUserInterfaceParts(programFolder, [this](const std::string& line,
                                                    int level) { Log(line, level, kNoContext); }),
      ServiceUserInterface(Parts{settings, pool, replies, strings, std::move(answers),
                                 errorTemplate, *logFolder, *debug, clock,
                                 ProgramVersion::OfThisProgram().text}) {
  if (!templateProblem.empty()) {
    Log(FormatLine("UI: No error page template (%s): error pages will be empty", templateProblem)
            .str(),
        LogLevel::kError, kNoContext);
  }
}

std::unique_ptr<PipeServer> LinuxUserInterface::MakeListener(const std::string& path,
                                                             UnixPipeServer::Limits limits) {
  return std::make_unique<UnixPipeServer>(
      path, owners, [this](const std::string& line, int level) { Log(line, level, kNoContext); },
      limits);
}

std::string LinuxUserInterface::ProgramFolder(std::string& problem) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    problem = SystemCallFailure("readlink", "/proc/self/exe", LastSystemError());
    return {};
  }
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

}  // namespace Pellux
