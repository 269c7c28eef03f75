#pragma once

#include <algorithm>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "base/clock.h"
#include "base/context.h"
#include "base/guarded_timer.h"
#include "base/log_format.h"
#include "base/log_level.h"
#include "link/radio_events.h"
#include "link/radio_link.h"
#include "server/network_request.h"
#include "server/request_body.h"
#include "server/server_response.h"
#include "session/client_settings.h"
#include "session/engine_status.h"
#include "session/session_progress.h"
#include "ui/user_interface.h"

namespace Pellux {

// The session engine: turns named actions from the service host, the UI bridge and the HTTP
// transport into sessions with a tracker and the server, one at a time, and starts the next
// background session whenever one ends.
//
// It owns its radio side, made by the factory it is given, and is the RadioEvents that radio
// reports to.
//
// Threads: ProcessAction may be called from any thread; timer handlers run on the engine's own
// event-loop thread. Every entry takes the one recursive lock and holds it to its end; the
// operations documented as "lock held" are for the radio side and the exchange, which are
// already inside an entry when they call them.
class CommunicationManager final : public RadioEvents {
 public:
  // The background mode; every other mode belongs to a user interface.
  static constexpr const char* kStandardMode = "standard";
  static constexpr std::int32_t kDefaultPingIntervalMs = 4000;
  static constexpr std::chrono::milliseconds kPlugInSettleDelay{1500};
  static constexpr std::chrono::seconds kWatchdogPeriod{15};
  // The silence after which the watchdog relaunches the base station, unless the engine is
  // built with another.
  static constexpr std::chrono::seconds kWatchdogIdleLimit{630};
  static constexpr std::int32_t kWatchdogAttemptsLimit = 4;
  // How long the radio side lets a channel in a wrong state be before the engine restarts.
  static constexpr std::chrono::milliseconds kCommunicationErrorRestartDelay{10000};
  // The longest a thread that may give up on the lock waits before it looks again.
  static constexpr std::chrono::milliseconds kLockPollInterval{1};

  // The user interface and the clock must outlive the manager. `makeRadio` is called once,
  // here, before the event loop runs. The watchdog relaunches a base station that has been
  // silent for longer than `idleLimit` (at least a second), as checked every
  // kWatchdogPeriod in standard mode.
  CommunicationManager(UserInterface* userInterface, const RadioFactory& makeRadio,
                       Clock& engineClock, std::chrono::seconds idleLimit = kWatchdogIdleLimit);
  CommunicationManager(const CommunicationManager&) = delete;
  CommunicationManager& operator=(const CommunicationManager&) = delete;
  ~CommunicationManager();

  // The one engine of this process while it exists, for the HTTP completion; else null.
  static CommunicationManager* Instance();

  // The one entry for named actions. `requestNumber` is 0 unless the action answers a request.
  void ProcessAction(std::uint32_t requestNumber, const std::string& action,
                     const std::string& argument, bool failed, Context caller);

  // Runs `work` as one entry into the engine, under its lock.
  template <typename Work>
  void RunLocked(Work&& work) {
    Lock guard(lock);
    std::forward<Work>(work)();
  }

  // The same for a thread that must be able to give up: keeps trying for the lock while
  // `wanted` holds and runs `work` only if it still holds once the lock is taken. The pump
  // thread enters this way, so that a thread closing the base station under the lock can wait
  // for the pump to leave. False when it gave up.
  template <typename Work>
  bool RunLockedWhile(const std::atomic<bool>& wanted, Work&& work) {
    std::unique_lock<std::recursive_mutex> guard(lock, std::defer_lock);
    // Polling rather than a timed wait: a timed try on a recursive mutex is not seen by the
    // thread sanitizer, and the wait is short and rare.
    auto pause = std::chrono::microseconds(20);
    for (int attempt = 0; !guard.try_lock(); ++attempt) {
      if (!wanted.load()) return false;
      // Most holders let go within microseconds; only a long hold is worth sleeping through.
      if (attempt < 64) {
        std::this_thread::yield();
        continue;
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(kLockPollInterval));
    }
    if (!wanted.load()) return false;
    std::forward<Work>(work)();
    return true;
  }

  // Session life cycle (lock held).
  void StartSession(const std::string& mode, Context context);
  void EndSession() override;
  void ResetSession();
  void Shutdown();
  void ProcessRequest(ServerResponse instruction);
  // After the channel has closed: send what waited for the close, or start the next session.
  void ContinueSession();

  // Settings (lock held for the reload).
  void LoadSettings();

  // Base station supervision (lock held).
  void OnBaseStationPlugged(const std::string& serial);
  void OnBaseStationUnplugged(const std::string& serial);
  void ArmWatchdog();
  // The radio side marks the base station it opened, and every message it receives.
  void OnBaseStationOpened(const std::string& serial, const std::string& device) override;
  void OnBaseStationClosed() override;
  void OnRadioActivity() override;
  // The radio side found the channel in a wrong state: restart the engine a little later.
  void OnChannelInWrongState() override;
  // The channel has been configured and opened since: the restart asked for is no longer due.
  void OnChannelOpened() override;
  // Tears the channel down: timers of the link stopped, the base station closed.
  void DestroyChannel();

  // Remote operations (lock held): run the current instruction's operations one by one,
  // record their outcomes, and post the results or close.
  void SendNextCommand();
  void SendCommand();
  // The outcome of the running operation, or of the link when none runs. `data` goes in front
  // of the operation's own response bytes.
  void OnCommandResult(const std::string& status, bool error, bool disconnect,
                       std::span<const std::uint8_t> data = {}) override;
  void PostResults();
  void OnFormInput(const std::string& text);
  void SleepTracker();
  // For the radio side: a field of the next request ("acquired", "trackerConnectionDropped").
  void AddRequestField(const std::string& name, const std::string& value) override;
  // The operation the radio is serving, or null when none is outstanding.
  [[nodiscard]] std::shared_ptr<Command> RunningCommand() const;

  // --- The rest of what the radio side reports and asks (RadioEvents, lock held) ---
  void OnChannelClosed() override { ContinueSession(); }
  void OnLinked() override;
  void OnPongReceived() override { SendCommand(); }
  [[nodiscard]] RadioParameters Parameters() const override;
  [[nodiscard]] bool IsCommandRunning() const override { return RunningCommand() != nullptr; }
  bool AppendCommandResponse(std::span<const std::uint8_t> bytes) override;
  bool TakeCommandPayload(std::size_t most, std::vector<std::uint8_t>& chunk) override;
  bool EnterWhile(const std::atomic<bool>& wanted, const std::function<void()>& work) override {
    return RunLockedWhile(wanted, work);
  }
  std::unique_ptr<GuardedTimer> CreateTimer() override;

  // Read without the lock: the pump thread asks it between messages.
  [[nodiscard]] bool IsStopped() const override { return stopped.load(); }
  // Runs `work` on the engine's event loop with the lock held, as the engine's own handlers
  // run: a host's liveness heartbeat, which a wedged loop or a lock that is never released
  // never runs. Any thread; nothing runs once the engine has stopped.
  void PostLocked(std::function<void()> work);

  // Read-only views, each taken under the lock.
  [[nodiscard]] bool IsActive() const;
  [[nodiscard]] bool IsRestarting() const;
  [[nodiscard]] bool IsCloseRequested() const override;
  [[nodiscard]] bool HasCommandFailed() const;
  [[nodiscard]] bool IsDisconnected() const;
  [[nodiscard]] bool IsWaitingMinDisplay() const;
  [[nodiscard]] bool IsPostDeferred() const;
  [[nodiscard]] std::string Mode() const;
  [[nodiscard]] Context SessionContext() const;
  // The user interface session waiting for the running one to end; kNoContext when none.
  [[nodiscard]] Context RestartContext() const;
  [[nodiscard]] ServerResponse Current() const;
  [[nodiscard]] std::string SessionBeaconType() const;
  [[nodiscard]] std::int32_t PingInterval() const;
  [[nodiscard]] std::uint32_t CurrentRequestId() const;
  [[nodiscard]] ClientSettings Settings() const;
  [[nodiscard]] bool IsBaseStationInUse() const;
  [[nodiscard]] std::string SerialInUse() const;
  [[nodiscard]] std::int32_t WatchdogAttempts() const;
  // When the tracker was last told to sleep, in seconds since 1970; 0 when never.
  [[nodiscard]] std::int64_t LastSleepTime() const;
  [[nodiscard]] bool HasPendingRequest() const;
  // The engine's part of the status record, in one piece.
  [[nodiscard]] EngineStatus Status() const;

 private:
  using Lock = std::lock_guard<std::recursive_mutex>;

  // Every line of the engine goes through here: our own constant format, outside text only
  // ever as an argument.
  template <typename... Args>
  void LogLine(int level, Context lineContext, const char* format, const Args&... args) const {
    ui->LogFormatted(FormatLine(format, args...), level, lineContext);
  }

  void HandleHttpAnswer(std::uint32_t requestNumber, const std::string& text, bool failed,
                        Context caller);
  // A failure of the running session under the message key `key`: kept for the status record
  // and, in a user interface's session, shown to `to`.
  void ReportFailure(const char* key, Context to);
  // Shows the error page of `key` to `to` and keeps it as the last error shown.
  void ShowUserError(const char* key, Context to);
  [[nodiscard]] std::int64_t NowSeconds() const { return EpochSeconds(clock.Now()); }
  // Posts a report about an unreadable answer to the error endpoint.
  void SendErrorReport(std::string body);
  void OnMinDisplayElapsed();
  void SendNextCommandOnce();
  void DispatchRequest(const NetworkRequest& request, Context requestContext);
  void SendPendingRequest();
  // Records every operation still queued as "disconnect" and drops it.
  void AbandonRemainingOperations();
  void OnWatchdog();
  void OnCommunicationError();
  // The user interface session that waits for the running one to end (restarting) will not
  // start after all: its user hears so instead of waiting for ever.
  void DropPendingRestart();
  // Whom the engine belongs to: the running session's user interface, or, while a session ends
  // so that a user interface's can start, that user interface.
  [[nodiscard]] Context Owner() const { return !active && restarting ? restartContext : context; }

  UserInterface* const ui;
  Clock& clock;

  mutable std::recursive_mutex lock;

  bool active = false;
  std::atomic<bool> stopped{true};
  bool restarting = false;
  bool closeRequested = false;
  std::string mode = "standard";
  Context context = kNoContext;
  std::string restartMode;
  Context restartContext = kNoContext;
  ServerResponse current;
  std::string sessionBeaconType;
  bool waitingMinDisplay = false;
  bool postDeferred = false;
  std::function<void()> pendingRequest;
  std::uint32_t requestCounter = 0;
  std::uint32_t currentRequestId = 0;
  bool commandFailed = false;
  bool disconnected = false;
  RequestBody requestBody;
  bool sendingCommands = false;
  bool sendNextAgain = false;
  std::int64_t lastSleepTime = 0;
  SessionProgress progress;

  bool baseStationInUse = false;
  std::string serialInUse;
  // Where the system names the station in use.
  std::string deviceInUse;
  // Seconds since the epoch of the radio's last message; the watchdog reads "now" at the same
  // whole-second resolution, so that the idle time is never read long.
  std::int64_t lastActivity = 0;
  std::int32_t watchdogAttempts = 0;
  const std::chrono::seconds watchdogIdleLimit;

  ClientSettings settings;
  std::int32_t pingInterval = kDefaultPingIntervalMs;

  // The event loop outlives the timers on it, and the worker outlives neither.
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> workGuard;
  std::unique_ptr<GuardedTimer> minDisplayTimer;
  std::unique_ptr<GuardedTimer> channelCheckTimer;
  std::unique_ptr<GuardedTimer> watchdogTimer;
  // Its timers are on the event loop: it goes before the loop does.
  std::unique_ptr<RadioLink> radio;
  std::thread worker;
};

}  // namespace Pellux
