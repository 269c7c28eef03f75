#pragma once

#include <cstdint>
#include <string>

#include "base/context.h"
#include "base/ui_sender.h"
#include "server/network_request.h"
#include "server/proxy_settings.h"
#include "ui/channel/reply_endpoints.h"
#include "ui/channel/status_record.h"

namespace Pellux {

// What the service pipe asks of the user interface bridge when a UI message calls for it: the
// log, the settings, the activity log's switch, the transport's proxy settings, a request and
// the status answer. The bridge implements it (ServiceUserInterface); tests record the calls.
//
// Threads: called from the pipe listener's thread and from the watchdog's timer thread, with the
// service pipe's lock held; implementations must not call back into the service pipe.
class ServicePipeHooks {
 public:
  ServicePipeHooks() = default;
  ServicePipeHooks(const ServicePipeHooks&) = delete;
  ServicePipeHooks& operator=(const ServicePipeHooks&) = delete;
  virtual ~ServicePipeHooks() = default;

  // One log line of the pipe's (levels of base/log_level.h).
  virtual void Log(const std::string& text, int level, Context context) = 0;
  // Settings writes of section `section`; false when the store refused the value.
  virtual bool WriteIntSetting(const std::string& section, const std::string& name,
                               std::uint32_t value) = 0;
  virtual bool WriteStringSetting(const std::string& section, const std::string& name,
                                  const std::string& value) = 0;
  // The UI's logging message: stores "LogActivity" (1 or 0) and "MaxLogDays" (as given),
  // reloads the activity log's settings, and either closes the log with
  // "<<< LOGGING DISABLED BY USER >>>" and cleans up (enabled or days 0) or opens a file when
  // none is open.
  virtual void ApplyLogging(std::int32_t enabled, std::int32_t days) = 0;
  // Replaces the transport's proxy settings as a whole; the settings store is written apart.
  virtual void ReplaceProxySettings(const ProxySettings& settings) = 0;
  // Queues one request; its answer reaches the engine as the action "http".
  virtual void SendRequest(NetworkRequest request, Context context) = 0;
  // Sends the status answer T with `text` to the UI of `context`; false only when that UI's
  // endpoint does not exist.
  virtual bool SendStatusReply(const std::string& text, Context context) = 0;
  // Fills the service's part of the status record: version, now and start time, the activity
  // log's file and the proxy in use.
  virtual void FillStatus(StatusRecord& record) = 0;
  // Sends J with `record` (EncodeStatusRecord) to the UI of `context`; false only when that UI's
  // endpoint does not exist.
  virtual bool SendStatusRecord(const std::string& record, Context context) = 0;
  // Whether `sender` may change what the service does for everybody (ui_permissions.h). May
  // ask the system (polkit), so it is asked only for messages that need it.
  virtual bool IsAdministrator(const UiSender& sender) = 0;
  // The reply endpoints, which the bridge keeps (it holds each context while a request of it is
  // in flight) and the pipe fills.
  virtual ReplyEndpoints& Endpoints() = 0;
};

}  // namespace Pellux
