#include <unistd.h>

#include <utility>

#include "base/system_error.h"
#include "ui/linux_user_interface.h"
#include "ui/log/program_version.h"
#include "ui/settings/atomic_file.h"

namespace Pellux {

LinuxUserInterfaceParts::LinuxUserInterfaceParts(const std::string& programFolder,
                                                 std::unique_ptr<DebugOutput> output,
                                                 std::unique_ptr<LogFolder> folder,
                                                 const UnixReplyChannel::Log& partsLog)
    : replies(partsLog),
      authority(partsLog),
      logFolder(folder != nullptr ? std::move(folder) : LogFolder::CreateForPlatform()),
      debug(output != nullptr ? std::move(output) : DebugOutput::CreateForPlatform()) {
  std::string where = programFolder;
  if (where.empty()) where = LinuxUserInterface::ProgramFolder(templateProblem);
  if (where.empty()) return;
  const std::string path = where + "/" + LinuxUserInterface::kErrorTemplatePath;
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
                                       const std::string& programFolder,
                                       std::unique_ptr<DebugOutput> output,
                                       std::unique_ptr<LogFolder> folder, Relauncher relauncher)
    : LinuxUserInterfaceParts(
          programFolder, std::move(output), std::move(folder),
          [this](const std::string& line, int level) { Log(line, level, kNoContext); }),
      ServiceUserInterface(Parts{settings, pool, replies, authority, strings, std::move(answers),
                                 errorTemplate, templateProblem, *logFolder, *debug, clock,
                                 ProgramVersion::OfThisProgram().text}),
      relauncher_(std::move(relauncher)) {}

bool LinuxUserInterface::Relaunch(std::uint16_t vendorId, std::uint16_t productId) {
  if (!relauncher_) return UserInterface::Relaunch(vendorId, productId);
  return relauncher_(vendorId, productId,
                     [this](const std::string& text, int level) { Log(text, level, kNoContext); });
}

std::unique_ptr<PipeServer> LinuxUserInterface::MakeListener(const std::string& path,
                                                             UnixPipeServer::Limits limits) {
  return std::make_unique<UnixPipeServer>(
      path, [this](const std::string& line, int level) { Log(line, level, kNoContext); }, limits);
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
