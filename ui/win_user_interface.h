#pragma once

#include <memory>
#include <string>

#include "base/clock.h"
#include "server/network_worker_pool.h"
#include "ui/channel/named_pipe_reply_channel_win.h"
#include "ui/channel/named_pipe_server_win.h"
#include "ui/channel/pipe_server.h"
#include "ui/channel/win_authority_win.h"
#include "ui/log/debug_output.h"
#include "ui/log/log_folder.h"
#include "ui/service_user_interface.h"
#include "ui/win_message_strings_win.h"

namespace Pellux {

// The parts only the Windows service has, made before the bridge that is given them.
struct WinUserInterfaceParts {
  WinUserInterfaceParts(const std::string& givenFolder, std::unique_ptr<LogFolder> folder,
                        NamedPipeReplyChannel::Log replyLog, HMODULE resources);

  NamedPipeReplyChannel replies;
  WinAuthority authority;
  WinMessageStrings strings;
  std::unique_ptr<LogFolder> logFolder;
  std::unique_ptr<DebugOutput> debug;
  // Template 0, read from "html_templates\standard_error.tpl" in the program's folder, and why
  // it could not be (logged once the bridge is up).
  std::string errorTemplate;
  std::string templateProblem;
  // The folder the error page and the rebooter are taken from; empty when it could not be read.
  std::string ownFolder;
};

// The service's user interface: the bridge over named pipes back to the UIs, the string table's
// message texts, the activity log in the all-users application data folder and the debugger
// output. Only where its parts come from differs from the Linux daemon's. Thread-safe as
// ServiceUserInterface is.
class WinUserInterface final : private WinUserInterfaceParts, public ServiceUserInterface {
 public:
  static constexpr const char* kErrorTemplatePath = "html_templates\\standard_error.tpl";
  // The UI's own reply pipe when it names no other.
  static constexpr const char* kDefaultReplyName = "\\\\.\\pipe\\Pellux";
  // A template past this size is refused: it is our own small page.
  static constexpr std::size_t kMaxTemplateBytes = 64 * 1024;

  // `programFolder` holds html_templates\ and the rebooter programs; empty means this
  // program's own folder. `folder` null means the all-users application data folder.
  // `resources` is the module the message texts are read from (WinMessageStrings). `settings`,
  // `pool`, `clock` and `resources` must outlive the interface.
  WinUserInterface(SettingsStore& settings, NetworkWorkerPool& pool,
                   NetworkWorkerPool::Completion answers, const Clock& clock,
                   const std::string& programFolder = "",
                   std::unique_ptr<LogFolder> folder = nullptr, HMODULE resources = nullptr);

  // The listener at the pipe `name` for the service pipe, logging through this interface.
  std::unique_ptr<PipeServer> MakeListener(const std::string& name = NamedPipeServer::kServiceName,
                                           NamedPipeServer::Limits limits = {});

  // Starts the rebooter that matches this Windows (rebooter64.exe on a 64-bit processor, else
  // rebooter.exe) from the program's folder, with the base station's ids and this process's id,
  // and returns at once: true when it was started. The rebooter then stops this service, ends
  // this process, restarts the base station and starts the service again. Called by the engine
  // with its lock held.
  bool Relaunch(std::uint16_t vendorId, std::uint16_t productId) override;

  // The folder of the running program (GetModuleFileNameA without its last part); empty, with
  // `problem` set, when it cannot be read.
  static std::string ProgramFolder(std::string& problem);
};

}  // namespace Pellux
