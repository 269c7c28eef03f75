#include "ui/channel/service_pipe.h"

#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/log_text.h"
#include "server/parse_url.h"
#include "ui/channel/ui_permissions.h"

namespace Pellux {

ServicePipe::ServicePipe(SessionControl& engine, ServicePipeHooks& hooks, Clock& clock,
                         std::unique_ptr<PipeServer> listener)
    : engine_(engine),
      hooks_(hooks),
      clock_(clock),
      listener_(std::move(listener)),
      timerWork_(timerQueue_.get_executor()) {
  watchdog_ = std::make_unique<GuardedTimer>(clock.CreateTimer(timerQueue_.get_executor()), lock_);
  timerThread_ = std::thread([this] { timerQueue_.run(); });
}

ServicePipe::~ServicePipe() {
  Stop();
  timerWork_.reset();
  timerQueue_.stop();
  if (timerThread_.joinable()) timerThread_.join();
}

bool ServicePipe::Start() {
  if (listener_ == nullptr) return false;
  {
    std::lock_guard guard(lock_);
    stopped_ = false;
  }
  return listener_->Start(
      [this](const UiSender& sender, const std::string& message) { OnMessage(sender, message); });
}

void ServicePipe::Stop() {
  {
    std::lock_guard guard(lock_);
    stopped_ = true;
    watchdog_->Cancel();
  }
  // Outside the lock: the listener thread may be inside OnMessage, waiting for it.
  if (listener_ != nullptr) listener_->Stop();
}

Context ServicePipe::ContextFor(const UiSender& sender, const std::string& replyName) {
  std::lock_guard guard(lock_);
  return hooks_.Endpoints().Intern(sender, replyName, clock_.Now(), engine_.HeldContexts());
}

void ServicePipe::LogLine(int level, const std::string& text) {
  hooks_.Log(text, level, kNoContext);
}

void ServicePipe::LogLimited(const UiSender& sender, const char* what, int level,
                             const std::string& text) {
  if (limitedLines_.Allow(sender.user + '\n' + what, clock_.Now())) LogLine(level, text);
}

void ServicePipe::OnMessage(const UiSender& sender, std::string_view text) {
  std::lock_guard guard(lock_);
  if (text.size() > kMaxUiMessageBytes) {
    LogLimited(sender, "long", LogLevel::kIgnored,
               FormatLine("UI: Ignoring a message of %d bytes (at most %d) from %s", text.size(),
                          kMaxUiMessageBytes, sender.user)
                   .str());
    return;
  }
  const auto message = SplitUiMessage(text);
  if (!message) {
    LogLimited(sender, "empty", LogLevel::kIgnored,
               FormatLine("UI: Ignoring an empty message from %s", sender.user).str());
    return;
  }
  if (message->replyName.empty()) {
    LogLimited(
        sender, "nameless", LogLevel::kIgnored,
        FormatLine("UI: Ignoring a message without a reply name: %s", LogSafeText(text)).str());
    return;
  }
  const std::string shownName = LogSafeText(message->replyName);
  if (RightNeeded(message->code, message->rest, engine_.ServerHost()) == UiRight::kAdministrator &&
      !hooks_.IsAdministrator(sender)) {
    LogLimited(
        sender, "refused", LogLevel::kIgnored,
        FormatLine("UI [%s]: %c refused for %s", shownName, message->code, sender.user).str());
    return;
  }
  const Context context = ContextFor(sender, message->replyName);
  if (context == kNoContext) {
    LogLimited(sender, "name", LogLevel::kIgnored,
               FormatLine("UI: Ignoring a message of %s whose reply name (%d bytes) is refused: "
                          "names are at most %d bytes, and %d at a time that are in use",
                          sender.user, message->replyName.size(), ReplyEndpoints::kMaxNameBytes,
                          ReplyEndpoints::kMaxPerUser)
                   .str());
    return;
  }
  // Polls come every few seconds from each UI: they would drown the log.
  if (message->code != UiCode::kStatusPoll && message->code != UiCode::kStatusRecordRequest) {
    LogLine(LogLevel::kLifecycle, FormatLine("UI [%s]: %c", shownName, message->code).str());
  }
  Dispatch(*message, context, text);
}

void ServicePipe::Dispatch(const UiMessage& message, Context context, std::string_view whole) {
  switch (message.code) {
    case UiCode::kStatusPoll:
      OnStatusPoll(context);
      return;
    case UiCode::kStatusRecordRequest:
      OnStatusRecordRequest(context->sender, context);
      return;
    case UiCode::kFinish:
      engine_.ProcessAction("finish", "", context);
      return;
    case UiCode::kForm:
      engine_.ProcessAction("form", message.rest, context);
      return;
    case UiCode::kLogging:
      OnLogging(message, whole);
      return;
    case UiCode::kProxy:
      OnProxy(message, whole);
      return;
    case UiCode::kRefresh:
      engine_.ProcessAction("refresh", "settings", context);
      return;
    case UiCode::kSession:
      OnSession(message, context, whole);
      return;
    case UiCode::kOpenUrl:
      OnOpenUrl(message, context);
      return;
    case UiCode::kExit:
      return;
    default:
      LogLimited(context->sender, "unknown", LogLevel::kIgnored,
                 FormatLine("UI: unknown message: %s", LogSafeText(whole)).str());
      return;
  }
}

void ServicePipe::OnStatusPoll(Context context) {
  RestartWatchdogFor(engine_.Mode());
  const StatusReply status{engine_.IsBaseStationOpen(), engine_.LastSleepTime()};
  hooks_.SendStatusReply(EncodeStatusText(status), context);
}

void ServicePipe::OnStatusRecordRequest(const UiSender& sender, Context context) {
  SessionControl::EngineRecord engine = engine_.Status();
  StatusRecord& record = engine.record;
  // Another user's session: only that it runs, and in which mode.
  if (record.session && engine.owner != kNoContext && !sender.system &&
      engine.owner->sender.user != sender.user) {
    StatusRecord::Session shown;
    shown.own = false;
    shown.mode = record.session->mode;
    record.session = shown;
  }
  hooks_.FillStatus(record);
  hooks_.SendStatusRecord(EncodeStatusRecord(record), context);
}

void ServicePipe::OnLogging(const UiMessage& message, std::string_view whole) {
  const auto request = DecodeLogging(message.rest);
  if (!request) {
    LogLine(
        LogLevel::kIgnored,
        FormatLine("UI: Ignoring a logging message without two integers: %s", LogSafeText(whole))
            .str());
    return;
  }
  LogLine(LogLevel::kLifecycle, FormatLine("UI: Turning logging %s, %d max log days...",
                                           request->enabled != 0 ? "ON" : "OFF", request->days)
                                    .str());
  hooks_.ApplyLogging(request->enabled, request->days);
}

void ServicePipe::OnProxy(const UiMessage& message, std::string_view whole) {
  std::string why;
  const auto proxy = DecodeProxy(message.rest, &why);
  if (!proxy) {
    LogLine(LogLevel::kIgnored,
            FormatLine("UI: Ignoring a proxy message (%s): %s", why, LogSafeText(whole)).str());
    return;
  }
  LogLine(LogLevel::kLifecycle,
          FormatLine("UI: Proxy configuration:\n\tSelection: %d\n\tAuto-Config URL: "
                     "%s\n\tAuto-Discovery Flags: %d\n\tFlags: %d\n\tBypass: %s\n\tServer: "
                     "%s\n\tServer Override: %s",
                     proxy->selection, LogSafeText(proxy->autoConfigUrl),
                     static_cast<std::int32_t>(proxy->autoDiscoveryFlags),
                     static_cast<std::int32_t>(proxy->flags), LogSafeText(proxy->bypass),
                     LogSafeText(proxy->server), LogSafeText(proxy->serverOverride))
              .str());
  // A write that fails changes nothing here: the transport still takes the new settings.
  hooks_.WriteIntSetting(kSettingsSection, "ProxySelection",
                         static_cast<std::uint32_t>(proxy->selection));
  hooks_.WriteStringSetting(kSettingsSection, "ProxyAutoConfigURL", proxy->autoConfigUrl);
  hooks_.WriteIntSetting(kSettingsSection, "ProxyAutoDiscoveryFlags", proxy->autoDiscoveryFlags);
  hooks_.WriteIntSetting(kSettingsSection, "ProxyFlags", proxy->flags);
  hooks_.WriteStringSetting(kSettingsSection, "ProxyBypass", proxy->bypass);
  hooks_.WriteStringSetting(kSettingsSection, "ProxyServer", proxy->server);
  hooks_.WriteStringSetting(kSettingsSection, "ProxyServerOverride", proxy->serverOverride);
  hooks_.ReplaceProxySettings(*proxy);
}

void ServicePipe::OnSession(const UiMessage& message, Context context, std::string_view whole) {
  const auto mode = DecodeSessionMode(message.rest);
  if (!mode) {
    LogLimited(
        context->sender, "session", LogLevel::kIgnored,
        FormatLine("UI: Ignoring a session message without a mode: %s", LogSafeText(whole)).str());
    return;
  }
  RestartWatchdogFor(*mode);
  engine_.ProcessAction("init", *mode, context);
}

void ServicePipe::OnOpenUrl(const UiMessage& message, Context context) {
  const std::string text = DecodeUrl(message.rest);
  ParsedUrl url;
  if (!ParseUrl(text, url)) return;
  LogLine(LogLevel::kLifecycle,
          FormatLine("UI: Opening internal URL: %s", LogSafeText(text)).str());
  // The engine's defaults: POST over plain http, its answer reported (and, with request number
  // 0, ignored by the engine). The scheme of the URL is not used.
  NetworkRequest request;
  request.host = url.host;
  request.port = url.port;
  request.path = url.path;
  request.requestNumber = 0;
  hooks_.SendRequest(std::move(request), context);
}

void ServicePipe::RestartWatchdogFor(const std::string& mode) {
  if (mode == SessionControl::kStandardMode || stopped_) return;
  watchdog_->Start(kWatchdogPeriod, [this] { OnWatchdog(); });
}

void ServicePipe::OnWatchdog() {
  // Runs with the lock held (GuardedTimer): an expiry that a poll re-armed in the meantime
  // never gets here.
  const std::string mode = engine_.Mode();
  if (mode == SessionControl::kStandardMode) return;
  LogLine(LogLevel::kIgnored,
          FormatLine("Pellux Service Manager application has died unexpectedly during %s mode.  "
                     "Forcing session to finish...",
                     LogSafeText(mode))
              .str());
  engine_.ProcessAction("finish", "", engine_.SessionContext());
}

}  // namespace Pellux
