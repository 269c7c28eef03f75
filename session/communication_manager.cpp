#include "session/communication_manager.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/asio/post.hpp>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/log_format.h"
#include "base/log_text.h"
#include "link/radio_link.h"
#include "server/request_body.h"
#include "server/server_response_reader.h"
#include "ui/user_interface.h"

namespace Pellux {
namespace {

std::atomic<CommunicationManager*> instance{nullptr};

// Renders a context the way the C library prints a pointer, so that a line names the same
// client whatever the platform's stream formatting of pointers.
std::string DescribeContext(Context context) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<const void*>(context));
  return text;
}

}  // namespace

CommunicationManager::CommunicationManager(UserInterface* userInterface,
                                           const RadioFactory& makeRadio, Clock& engineClock,
                                           std::chrono::seconds idleLimit)
    : ui(userInterface),
      clock(engineClock),
      watchdogIdleLimit(idleLimit),
      workGuard(io.get_executor()) {
  // A manager without its user interface could neither log nor reach anyone: a programming
  // error that must stop the process in every build, not only in debug ones.
  if (ui == nullptr) {
    std::fputs("CommunicationManager needs a user interface\n", stderr);
    std::abort();
  }
  lastActivity = EpochSeconds(clock.Now());
  minDisplayTimer = CreateTimer();
  channelCheckTimer = CreateTimer();
  watchdogTimer = CreateTimer();
  radio = makeRadio(*this);
  if (radio == nullptr) {
    std::fputs("CommunicationManager needs a radio side\n", stderr);
    std::abort();
  }
  worker = std::thread([this] { io.run(); });
  instance.store(this);
  LoadSettings();
}

CommunicationManager::~CommunicationManager() {
  LogLine(LogLevel::kLifecycle, kNoContext, "Dealloc stop \n");
  {
    Lock guard(lock);
    Shutdown();
  }
  LogLine(LogLevel::kLifecycle, kNoContext, "After shutdown \n");
  {
    Lock guard(lock);
    radio->ReleaseBaseStation();
  }
  LogLine(LogLevel::kLifecycle, kNoContext, "Before stop \n");
  io.stop();
  LogLine(LogLevel::kLifecycle, kNoContext, "After stop \n");
  if (worker.joinable()) worker.join();
  // Timers are destroyed with the members; none of their handlers can run any more.
  instance.store(nullptr);
}

std::unique_ptr<GuardedTimer> CommunicationManager::CreateTimer() {
  return std::make_unique<GuardedTimer>(clock.CreateTimer(io.get_executor()), lock);
}

void CommunicationManager::PostLocked(std::function<void()> work) {
  boost::asio::post(io, [this, work = std::move(work)] {
    Lock guard(lock);
    work();
  });
}

CommunicationManager* CommunicationManager::Instance() {
  return instance.load();
}

// ---------------------------------------------------------------------------------------------
// Actions

void CommunicationManager::ProcessAction(std::uint32_t requestNumber, const std::string& action,
                                         const std::string& argument, bool failed, Context caller) {
  LogLine(LogLevel::kTrace, kNoContext, "Processing action '%s'...", action);
  Lock guard(lock);

  const std::string name = boost::algorithm::to_lower_copy(action);

  const bool anyContextMayAsk = name == "basestationconnect" || name == "basestationdisconnect" ||
                                name == "shutdown" || name == "refresh";
  // While a session ends so that a user interface's can start, the engine is already promised
  // to that user interface.
  const Context owner = Owner();
  if (owner != kNoContext && caller != owner && !anyContextMayAsk) {
    if (name != "finish") ShowUserError("kPXDaemonAlreadyRunning", caller);
    LogLine(LogLevel::kIgnored, kNoContext,
            "Ignoring request to process action '%s' from unknown context", action);
    return;
  }

  if (name == "_start") {
    stopped = false;
  } else if (name == "init") {
    StartSession(argument, caller);
  } else if (name == "finish") {
    StartSession(kStandardMode, kNoContext);
  } else if (name == "shutdown") {
    Shutdown();
  } else if (name == "form") {
    OnFormInput(argument);
  } else if (name == "http") {
    HandleHttpAnswer(requestNumber, argument, failed, caller);
  } else if (name == "basestationconnect") {
    LogLine(LogLevel::kLifecycle, kNoContext, "Base station with serial '%s' has been plugged in.",
            argument);
    OnBaseStationPlugged(argument);
  } else if (name == "basestationdisconnect") {
    LogLine(LogLevel::kError, kNoContext, "Base station with serial '%s' has been unplugged.",
            argument);
    OnBaseStationUnplugged(argument);
  } else if (name == "refresh") {
    LogLine(LogLevel::kProgress, kNoContext, "Restoring client settings...");
    LoadSettings();
  } else {
    LogLine(LogLevel::kIgnored, kNoContext,
            "Processing unknown message:  source[%s] text[%s] error[%s]", action, argument,
            failed ? "true" : "false");
  }
}

void CommunicationManager::HandleHttpAnswer(std::uint32_t requestNumber, const std::string& text,
                                            bool failed, Context caller) {
  // Only the session that sent a request acts on its answer: a late answer to an ended session
  // must not drive the next one.
  if (!active || requestNumber == 0 || requestNumber != currentRequestId) {
    LogLine(LogLevel::kIgnored, kNoContext, "Ignoring unexpected HTTP response [%lu].",
            static_cast<unsigned long>(requestNumber));
    return;
  }
  if (failed) {
    LogLine(LogLevel::kError, kNoContext, "Connection to server failed.");
    ReportFailure("kPXDaemonConnectionFailed", caller);
    EndSession();
    return;
  }
  ServerResponse response;
  if (mode == "factoryfirmwaresetup") response.responder = "respondalways";
  std::vector<std::string> warnings;
  std::string error;
  if (!ParseServerResponse(text, response, warnings, &error)) {
    SendErrorReport(ErrorReportBody(error));
    LogLine(LogLevel::kError, kNoContext, "XML parse error: %s", error);
    ReportFailure("kPXDaemonErrorOccurred", caller);
    EndSession();
    return;
  }
  if (!warnings.empty()) {
    for (const auto& warning : warnings)
      LogLine(LogLevel::kIgnored, kNoContext, "XML parse warning: %s", warning);
    SendErrorReport(WarningsReportBody(warnings));
  }
  // The server's own words are shown as they stand, never taken as a format.
  if (!response.message.empty()) ui->Log(response.message, LogLevel::kStatus, caller);
  if (!response.dialogContent.empty()) {
    ui->DisplayHtml(response.dialogContent, caller, response.width, response.height);
  }
  ProcessRequest(std::move(response));
}

void CommunicationManager::ReportFailure(const char* key, Context to) {
  progress.Failed(key);
  if (mode != kStandardMode) ShowUserError(key, to);
}

void CommunicationManager::ShowUserError(const char* key, Context to) {
  progress.ErrorShown(key, NowSeconds());
  ui->ShowError(0, key, to);
}

void CommunicationManager::SendErrorReport(std::string body) {
  NetworkRequest report;
  report.host = settings.errorHost;
  report.port = settings.errorPort;
  report.path = settings.errorPath;
  report.body = std::move(body);
  report.requestNumber = 0;
  // Nobody waits for the error endpoint's answer.
  report.reportResult = false;
  ui->SendRequest(std::move(report), kNoContext);
}

// ---------------------------------------------------------------------------------------------
// Session life cycle

void CommunicationManager::StartSession(const std::string& newMode, Context newContext) {
  Lock guard(lock);
  // The mode is a UI's word: logged only as safe text.
  LogLine(LogLevel::kLifecycle, kNoContext, "Starting session in %s mode...", LogSafeText(newMode));
  if (active) {
    LogLine(LogLevel::kLifecycle, kNoContext, "Ending active session and restarting in %s mode...",
            LogSafeText(newMode));
    restarting = true;
    restartMode = newMode;
    restartContext = newContext;
    LogLine(LogLevel::kTrace, kNoContext, "[CTX] %s: setting restarting context %p",
            "CommunicationManager::StartSession", DescribeContext(newContext));
    EndSession();
    return;
  }

  restarting = false;
  ResetSession();
  mode = newMode;
  sessionBeaconType.clear();
  context = newContext;
  LogLine(LogLevel::kTrace, kNoContext, "[CTX] %s: setting context %p",
          "CommunicationManager::StartSession", DescribeContext(context));

  ServerResponse first;
  first.host = settings.serverHost;
  first.port = settings.serverPort;
  first.path = settings.serverPath;
  first.pingInterval = pingInterval;
  first.sleepPeriod = settings.sleepPeriod;
  if (mode == kStandardMode) {
    first.origin = "local";
    first.action = "acquire";
    first.beaconType = "standard";
    first.responder = "respondnoerror";
  }

  stopped = false;
  active = true;
  progress.Begin(mode, NowSeconds());
  ProcessRequest(std::move(first));
}

void CommunicationManager::EndSession() {
  Lock guard(lock);
  if (!active) return;
  LogLine(LogLevel::kProgress, kNoContext, "Ending session...");
  ResetSession();
  radio->ResetChannel();
  if (stopped) {
    DestroyChannel();
  } else {
    radio->CloseChannel();
  }
}

void CommunicationManager::ResetSession() {
  Lock guard(lock);
  active = false;
  progress.End(NowSeconds());
  closeRequested = false;
  mode = kStandardMode;
  context = kNoContext;
  LogLine(LogLevel::kTrace, kNoContext, "[CTX] %s: setting context %p",
          "CommunicationManager::ResetSession", DescribeContext(context));
  pingInterval = kDefaultPingIntervalMs;
  minDisplayTimer->Cancel();
  // Nothing of the ended session goes out or is awaited any more.
  currentRequestId = 0;
  pendingRequest = nullptr;
}

void CommunicationManager::Shutdown() {
  Lock guard(lock);
  if (stopped) return;
  LogLine(LogLevel::kProgress, kNoContext, "Shutting down...");
  stopped = true;
  radio->CancelIdleTimer();
  LogLine(LogLevel::kProgress, kNoContext, "! idle timer is canceled...");
  minDisplayTimer->Cancel();
  // A restart armed before the stop must not bring a stopped engine back to life.
  channelCheckTimer->Cancel();
  LogLine(LogLevel::kProgress, kNoContext, "! Going to start EndSession...");
  DropPendingRestart();
  EndSession();
}

void CommunicationManager::ProcessRequest(ServerResponse instruction) {
  Lock guard(lock);
  LogLine(LogLevel::kProgress, kNoContext, "Processing request...");
  if (instruction.pingInterval == -1) instruction.pingInterval = pingInterval;
  if (instruction.sleepPeriod == -1) instruction.sleepPeriod = settings.sleepPeriod;

  current = std::move(instruction);
  progress.InstructionStarted(current.remoteOps.size());
  requestBody.Reset();
  pendingRequest = nullptr;
  radio->SetRetryBudget(settings.channelRetries);
  pingInterval = current.pingInterval < 0 ? kDefaultPingIntervalMs : current.pingInterval;
  waitingMinDisplay = false;
  postDeferred = false;
  commandFailed = false;
  disconnected = false;

  if (!current.dialogContent.empty() && current.minDisplayTime > 0) {
    waitingMinDisplay = true;
    minDisplayTimer->Start(std::chrono::milliseconds(current.minDisplayTime),
                           [this] { OnMinDisplayElapsed(); });
  }

  if (current.action == "acquire") {
    sessionBeaconType = current.beaconType;
    radio->SetSearchDeviceNumber(current.beaconType == "special" ? 0xFFFE : 0xFFFF);
    radio->OpenCommunication();
  } else {
    SendNextCommand();
  }
}

void CommunicationManager::ContinueSession() {
  Lock guard(lock);
  if (stopped) {
    LogLine(LogLevel::kDetail, kNoContext, "Shutdown complete.");
    return;
  }
  // Mid-link the channel closes only to reopen on the session channel; the radio goes on.
  if (radio->GetLinkState() == LinkState::LinkSent) return;

  radio->ResetChannel();
  if (active) {
    LogLine(LogLevel::kProgress, kNoContext,
            "Session is still open. Waiting for instructions from server...");
    SendPendingRequest();
  }
  if (!active) {
    if (restarting) {
      // StartSession clears the flag; copies keep the arguments valid meanwhile.
      const std::string nextMode = restartMode;
      StartSession(nextMode, restartContext);
    } else {
      StartSession(kStandardMode, kNoContext);
    }
  }
}

void CommunicationManager::OnMinDisplayElapsed() {
  // Runs only for the wait of the current instruction: a cancelled one must not cut the next
  // dialog's display time short.
  waitingMinDisplay = false;
  if (postDeferred) PostResults();
  postDeferred = false;
}

void CommunicationManager::DropPendingRestart() {
  if (!restarting) return;
  restarting = false;
  if (restartMode == kStandardMode) return;
  LogLine(LogLevel::kError, kNoContext,
          "The session in %s mode that was waiting to start is dropped.", LogSafeText(restartMode));
  ShowUserError("kPXDaemonCommunicationError", restartContext);
}

// ---------------------------------------------------------------------------------------------
// Settings

void CommunicationManager::LoadSettings() {
  Lock guard(lock);
  settings.Load(*ui, pingInterval);
}

RadioParameters CommunicationManager::Parameters() const {
  Lock guard(lock);
  RadioParameters parameters;
  parameters.vendorId = settings.vendorId;
  parameters.productId = settings.productId;
  parameters.frequency = settings.frequency;
  parameters.channelRetries = settings.channelRetries;
  parameters.acquireSeconds = current.acquireTimeOut;
  parameters.pingIntervalMs = pingInterval;
  parameters.beaconType = sessionBeaconType;
  return parameters;
}

// ---------------------------------------------------------------------------------------------
// Views

#define PELLUX_VIEW(type, name, expression) \
  type CommunicationManager::name() const { \
    Lock guard(lock);                       \
    return expression;                      \
  }

PELLUX_VIEW(bool, IsActive, active)
PELLUX_VIEW(bool, IsRestarting, restarting)
PELLUX_VIEW(bool, IsCloseRequested, closeRequested)
PELLUX_VIEW(bool, HasCommandFailed, commandFailed)
PELLUX_VIEW(bool, IsDisconnected, disconnected)
PELLUX_VIEW(bool, IsWaitingMinDisplay, waitingMinDisplay)
PELLUX_VIEW(bool, IsPostDeferred, postDeferred)
PELLUX_VIEW(std::string, Mode, mode)
PELLUX_VIEW(Context, SessionContext, context)
PELLUX_VIEW(Context, RestartContext, restarting ? restartContext : kNoContext)
PELLUX_VIEW(ServerResponse, Current, current)
PELLUX_VIEW(std::string, SessionBeaconType, sessionBeaconType)
PELLUX_VIEW(std::int32_t, PingInterval, pingInterval)
PELLUX_VIEW(std::uint32_t, CurrentRequestId, currentRequestId)
PELLUX_VIEW(ClientSettings, Settings, settings)
PELLUX_VIEW(bool, IsBaseStationInUse, baseStationInUse)
PELLUX_VIEW(std::string, SerialInUse, serialInUse)
PELLUX_VIEW(std::int32_t, WatchdogAttempts, watchdogAttempts)
PELLUX_VIEW(std::int64_t, LastSleepTime, lastSleepTime)
PELLUX_VIEW(bool, HasPendingRequest, static_cast<bool>(pendingRequest))

#undef PELLUX_VIEW

EngineStatus CommunicationManager::Status() const {
  Lock guard(lock);
  EngineStatus status;
  status.mode = mode;
  status.owner = context;
  status.baseStationOpen = baseStationInUse;
  status.serial = serialInUse;
  status.device = deviceInUse;
  status.vendorId = settings.vendorId;
  status.productId = settings.productId;
  status.lastSleepTime = lastSleepTime;
  status.session = progress.Running();
  status.lastUpload = progress.LastUpload();
  status.lastError = progress.LastError();
  if (stopped) {
    status.link = EngineStatus::kStopped;
  } else if (!baseStationInUse) {
    status.link = EngineStatus::kWaitingForBaseStation;
  } else {
    switch (radio->GetLinkState()) {
      case LinkState::Linked:
      case LinkState::Pinging:
        status.link =
            RunningCommand() != nullptr ? EngineStatus::kTransferring : EngineStatus::kLinked;
        break;
      case LinkState::Unlinking:
        status.link = EngineStatus::kSleeping;
        break;
      case LinkState::Searching:
      case LinkState::ResetSent:
      case LinkState::LinkSent:
      case LinkState::SessionSearch:
        status.link = EngineStatus::kSearching;
        break;
    }
  }
  return status;
}

}  // namespace Pellux
