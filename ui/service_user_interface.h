#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/clock.h"
#include "server/network_worker_pool.h"
#include "server/proxy_settings.h"
#include "ui/channel/reply_channel.h"
#include "ui/channel/reply_endpoints.h"
#include "ui/channel/service_pipe_hooks.h"
#include "ui/channel/ui_authority.h"
#include "ui/log/activity_log.h"
#include "ui/log/debug_output.h"
#include "ui/log/log_folder.h"
#include "ui/message_strings.h"
#include "ui/user_interface.h"

namespace Pellux {

// The user interface of the service and the daemon: what the engine and the service pipe ask
// of the outside world, put together from small parts: the settings store, the network workers,
// the reply channel back to the UIs, the message strings, the activity log with its folder and
// the debug output, the OS description and the client id.
// WinUserInterface and LinuxUserInterface add only what differs (where the parts come from).
//
// Threads: every operation may be called from any thread (the engine's, the pipe listener's,
// the watchdog's and the network workers'); the parts are thread-safe, and the few values kept
// here are fixed at construction.
class ServiceUserInterface : public UserInterface, public ServicePipeHooks {
 public:
  static constexpr const char* kSection = "Tracker";
  static constexpr const char* kDefaultLocale = "en_US";

  struct Parts {
    SettingsStore& settings;
    NetworkWorkerPool& pool;
    ReplyChannel& replies;
    // Who is an administrator, for the messages only administrators may send.
    UiAuthority& authority;
    MessageStrings& strings;
    // Receives each answer whose request asked for it, on a network worker: the service hands
    // it to the engine as the action "http".
    NetworkWorkerPool::Completion answers;
    // Template 0, the error page: text with %1%, %2%, ... for the texts of the message keys.
    std::string errorTemplate;
    // Why the template could not be read, when it could not: logged once the bridge is up.
    std::string templateProblem;
    // The activity log's folder, the debug output and the clock of its stamps and roll.
    LogFolder& logFolder;
    DebugOutput& debug;
    const Clock& clock;
    // The program's version, for the banner of each log file.
    std::string versionText;
  };

  // Reads "Language" and the seven proxy settings (section "Tracker") and hands the latter to
  // the transport, and loads the activity log's settings (the service opens the log when it
  // starts). The parts must outlive this object.
  explicit ServiceUserInterface(Parts parts);
  // Closes the activity log with "<<< APPLICATION TERMINATED >>>" and stops the network
  // workers: no answer arrives once this is done.
  ~ServiceUserInterface() override;

  // The activity log, for the service host to open when it starts.
  ActivityLog& Activity() { return log_; }

  // --- UserInterface ---
  bool ShowErrorList(int templateNumber, const std::vector<std::string>& messageKeys,
                     Context context) override;
  bool DisplayHtml(const std::string& html, Context context, int width, int height) override;
  void SendRequest(NetworkRequest request, Context context) override;
  // A status line (level 8) goes first to the UI of `context` as I; then every line goes to the
  // activity log and to the debug output.
  void Log(const std::string& text, int level, Context context) override;
  bool WriteIntSetting(const std::string& section, const std::string& name,
                       std::uint32_t value) override;
  bool WriteStringSetting(const std::string& section, const std::string& name,
                          const std::string& value) override;
  std::string GetOsDescription() override;
  std::string GetClientId() override;
  std::string GetLocale(Context context) override;

  // --- ServicePipeHooks (Log, the writes and SendRequest as above) ---
  // The activity log applies the settings (ActivityLog::ApplySettings).
  void ApplyLogging(std::int32_t enabled, std::int32_t days) override;
  void ReplaceProxySettings(const ProxySettings& settings) override;
  // Sends T with `text`.
  bool SendStatusReply(const std::string& text, Context context) override;
  // The version, the clock's now and the time this object was made (the service's start), the
  // activity log's open file and the process's proxy settings described.
  void FillStatus(StatusRecord& record) override;
  // Sends J with `record`.
  bool SendStatusRecord(const std::string& record, Context context) override;
  bool IsAdministrator(const UiSender& sender) override;
  ReplyEndpoints& Endpoints() override { return endpoints_; }

  // The proxy settings as stored: texts default to empty, numbers to -1.
  static ProxySettings ReadProxySettings(UserInterface& ui);
  // The page for `keys` in `pageTemplate`; the internal-error text when the template is
  // malformed or does not take exactly as many texts. An empty template gives an empty page.
  static std::string BuildErrorPage(const std::string& pageTemplate,
                                    const std::vector<std::string>& texts);
  // "There was an internal error.  Please contact <support address>."
  static std::string InternalErrorText();

 private:
  void LogProblem(const std::string& line);

  NetworkWorkerPool& pool_;
  ReplyChannel& replies_;
  UiAuthority& authority_;
  // Each context stays here while a request of it is in flight.
  ReplyEndpoints endpoints_;
  MessageStrings& strings_;
  DebugOutput& debug_;
  const Clock& clock_;
  const std::string version_;
  const std::int64_t startedAt_;
  const NetworkWorkerPool::Completion answers_;
  const std::map<int, std::string> templates_;
  std::string locale_;
  // Last: its own lines come back through Log, which needs the parts above.
  ActivityLog log_;
};

}  // namespace Pellux
