#pragma once

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "base/clock.h"
#include "base/context.h"
#include "server/network_request.h"
#include "server/server_response.h"
#include "session/client_settings.h"

namespace Pellux {

class RadioLink;
class SessionExchange;
class UserInterface;

// The session engine: turns named actions from the service host, the UI bridge and the HTTP
// transport into sessions with a tracker and the server, one at a time, and starts the next
// background session whenever one ends.
//
// Threads: ProcessAction may be called from any thread; timer handlers run on the engine's own
// event-loop thread. Every entry takes the one recursive lock and holds it to its end; the
// operations documented as "lock held" are for the radio side and the exchange, which are
// already inside an entry when they call them.
class CommunicationManager {
 public:
  static constexpr std::int32_t kDefaultPingIntervalMs = 4000;
  static constexpr std::chrono::milliseconds kPlugInSettleDelay{1500};
  static constexpr std::chrono::seconds kWatchdogPeriod{15};
  static constexpr double kWatchdogIdleLimitSeconds = 630.0;
  static constexpr std::int32_t kWatchdogAttemptsLimit = 4;
  // How long the radio side lets a channel in a wrong state be before the engine restarts.
  static constexpr std::chrono::milliseconds kCommunicationErrorRestartDelay{10000};

  // `ui`, `radio`, `exchange` and `clock` must outlive the manager.
  CommunicationManager(UserInterface* ui, RadioLink& radio, SessionExchange& exchange,
                       Clock& clock);
  CommunicationManager(const CommunicationManager&) = delete;
  CommunicationManager& operator=(const CommunicationManager&) = delete;
  ~CommunicationManager();

  // The one engine of this process while it exists, for the HTTP completion; else null.
  static CommunicationManager* Instance();

  // The one entry for named actions. `requestNumber` is 0 unless the action answers a request.
  void ProcessAction(std::uint32_t requestNumber, const std::string& action,
                     const std::string& argument, bool failed, Context context);

  // Runs `work` as one entry into the engine, under its lock: the radio side's event handlers
  // arrive this way from the pump and timer threads.
  template <typename Work>
  void RunLocked(Work&& work) {
    Lock guard(lock);
    std::forward<Work>(work)();
  }

  // Session life cycle (lock held).
  void StartSession(const std::string& mode, Context context);
  void EndSession();
  void ResetSession();
  void Shutdown();
  void ProcessRequest(ServerResponse instruction);
  // The end of the radio side's channel-closed handling: send what waited for the close, or
  // start the next session.
  void ContinueSession();

  // Settings (lock held for the reload).
  void LoadSettings();

  // Base station supervision (lock held).
  void OnBaseStationPlugged(const std::string& serial);
  void OnBaseStationUnplugged(const std::string& serial);
  void ArmWatchdog();
  // The radio side marks the base station it opened, and every message it receives.
  void MarkBaseStationOpened(const std::string& serial);
  void MarkBaseStationClosed();
  void RecordActivity();
  // The radio side found the channel in a wrong state: restart the engine a little later.
  void ScheduleCommunicationErrorRestart();
  // Tears the channel down: timers of the link stopped, the base station closed.
  void DestroyChannel();

  // For the exchange (lock held): numbers the results request, makes it the one whose answer
  // the session waits for, and keeps it until SendPendingRequest.
  std::uint32_t PrepareResultsRequest(NetworkRequest request);
  // Sends the prepared request, if any, and forgets it.
  void SendPendingRequest();
  [[nodiscard]] bool HasPendingRequest() const;
  void SetCloseRequested();
  void SetCommandFailed();
  void SetDisconnected();
  void SetMinDisplayWait(bool waiting, bool postDeferred);
  void CancelMinDisplayTimer();

  // Read-only views, each taken under the lock.
  [[nodiscard]] bool IsActive() const;
  [[nodiscard]] bool IsStopped() const;
  [[nodiscard]] bool IsRestarting() const;
  [[nodiscard]] bool IsCloseRequested() const;
  [[nodiscard]] bool HasCommandFailed() const;
  [[nodiscard]] bool IsDisconnected() const;
  [[nodiscard]] bool IsWaitingMinDisplay() const;
  [[nodiscard]] bool IsPostDeferred() const;
  [[nodiscard]] std::string Mode() const;
  [[nodiscard]] Context SessionContext() const;
  [[nodiscard]] ServerResponse Current() const;
  [[nodiscard]] std::string SessionBeaconType() const;
  [[nodiscard]] std::int32_t PingInterval() const;
  [[nodiscard]] std::uint32_t CurrentRequestId() const;
  [[nodiscard]] ClientSettings Settings() const;
  [[nodiscard]] bool IsBaseStationInUse() const;
  [[nodiscard]] std::string SerialInUse() const;
  [[nodiscard]] std::int32_t WatchdogAttempts() const;
  [[nodiscard]] UserInterface& Ui() const { return *ui; }

 private:
  using Lock = std::lock_guard<std::recursive_mutex>;

  template <typename... Args>
  void LogLine(int level, Context lineContext, const char* format, const Args&... args) const;

  void HandleHttpAnswer(std::uint32_t requestNumber, const std::string& text, bool failed,
                        Context caller);
  // Posts a report about an unreadable answer to the error endpoint.
  void SendErrorReport(std::string body);
  void OnMinDisplayElapsed(bool cancelled);
  void OnWatchdog(bool cancelled);
  void OnCommunicationError(bool cancelled);

  UserInterface* const ui;
  RadioLink& radio;
  SessionExchange& exchange;
  Clock& clock;

  mutable std::recursive_mutex lock;

  bool active = false;
  bool stopped = true;
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

  bool baseStationInUse = false;
  std::string serialInUse;
  std::int64_t lastActivity = 0;  // seconds since the epoch
  std::int32_t watchdogAttempts = 0;

  ClientSettings settings;
  std::int32_t pingInterval = kDefaultPingIntervalMs;

  // The event loop outlives the timers on it, and the worker outlives neither.
  boost::asio::io_context io;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> workGuard;
  std::unique_ptr<OneShotTimer> minDisplayTimer;
  std::unique_ptr<OneShotTimer> pingTimer;
  std::unique_ptr<OneShotTimer> beaconSearchTimer;
  std::unique_ptr<OneShotTimer> channelCheckTimer;
  std::unique_ptr<OneShotTimer> watchdogTimer;
  std::thread worker;
};

}  // namespace Pellux
