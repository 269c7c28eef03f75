#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/clock.h"
#include "server/network_worker_pool.h"
#include "ui/channel/pipe_server.h"
#include "ui/channel/polkit_authority_linux.h"
#include "ui/channel/unix_pipe_server_linux.h"
#include "ui/channel/unix_reply_channel_linux.h"
#include "ui/log/debug_output.h"
#include "ui/log/log_folder.h"
#include "ui/message_strings.h"
#include "ui/service_user_interface.h"

namespace Pellux {

// The parts only the Linux daemon has, made before the bridge that is given them.
struct LinuxUserInterfaceParts {
  LinuxUserInterfaceParts(const std::string& programFolder, std::unique_ptr<DebugOutput> output,
                          std::unique_ptr<LogFolder> folder, const UnixReplyChannel::Log& partsLog);

  UnixReplyChannel replies;
  PolkitAuthority authority;
  BuiltInMessageStrings strings;
  std::unique_ptr<LogFolder> logFolder;
  std::unique_ptr<DebugOutput> debug;
  // Template 0, read from "html_templates/standard_error.tpl" in the program's folder, and why
  // it could not be (logged once the bridge is up).
  std::string errorTemplate;
  std::string templateProblem;
};

// The daemon's user interface: the bridge over Unix sockets back to the UIs, the built-in
// message texts, the logs directory and the journal. Only where its parts come from differs
// from the Windows service's. Thread-safe as ServiceUserInterface is.
class LinuxUserInterface : private LinuxUserInterfaceParts, public ServiceUserInterface {
 public:
  static constexpr const char* kErrorTemplatePath = "html_templates/standard_error.tpl";
  // A template past this size is refused: it is our own small page.
  static constexpr std::size_t kMaxTemplateBytes = std::size_t{64} * 1024;

  // A log line of the relaunch: the text and its level.
  using RelaunchLog = std::function<void(const std::string& text, int level)>;
  // How the base station gets power-cycled and the program restarted, given by the program that
  // owns this interface (the daemon starts its rebooter unit through systemd). Called on the
  // engine's thread with the engine's lock held; returns whether the relaunch was started, and
  // tells what it does through `log`.
  using Relauncher =
      std::function<bool(std::uint16_t vendorId, std::uint16_t productId, const RelaunchLog& log)>;

  // `programFolder` holds html_templates/; empty means this program's own folder. A null
  // `output` or `folder` means the platform's own (the journal or standard error; the logs
  // directory); an empty `relauncher`, none (Relaunch does nothing). `settings`, `pool` and
  // `clock` must outlive the interface.
  LinuxUserInterface(SettingsStore& settings, NetworkWorkerPool& pool,
                     NetworkWorkerPool::Completion answers, const Clock& clock,
                     const std::string& programFolder = "",
                     std::unique_ptr<DebugOutput> output = nullptr,
                     std::unique_ptr<LogFolder> folder = nullptr, Relauncher relauncher = nullptr);

  // Hands the relaunch to the relauncher, its lines to this interface's log.
  bool Relaunch(std::uint16_t vendorId, std::uint16_t productId) override;

  // The listener at `path` for the service pipe.
  std::unique_ptr<PipeServer> MakeListener(const std::string& path,
                                           UnixPipeServer::Limits limits = {});

  // The folder of the running program ("/proc/self/exe" without its last part); empty, with
  // `problem` set, when it cannot be read.
  static std::string ProgramFolder(std::string& problem);

 private:
  const Relauncher relauncher_;
};

}  // namespace Pellux
