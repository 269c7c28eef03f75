// The engine's watch over the base station: plug-in and unplug, the watchdog that relaunches a
// silent base station, and the restart after a communication error.

#include <boost/algorithm/string/predicate.hpp>

#include "link/radio_link.h"
#include "session/communication_manager.h"

namespace Pellux {

void CommunicationManager::OnBaseStationPlugged(const std::string& serial) {
  Lock guard(lock);
  const bool accepted =
      !baseStationInUse || serialInUse.empty() || boost::algorithm::iequals(serialInUse, serial);
  if (!accepted) {
    LogLine(LogLevel::kIgnored, kNoContext,
            "Unused base station has been plugged in with serial '%s' -- in use '%s'", serial,
            serialInUse);
    return;
  }
  baseStationInUse = true;
  serialInUse = serial;
  if (stopped) return;

  // The device needs a moment after arrival before it answers; every other entry waits.
  clock.Sleep(kPlugInSettleDelay);

  if (active && mode != kStandardMode) {
    if (current.action == "acquire") radio->OpenCommunication();
    return;
  }
  if (!active && restarting) {
    // A session is ending so that another can start: start that one, not a standard session
    // that would drop it.
    const std::string nextMode = restartMode;
    StartSession(nextMode, restartContext);
    return;
  }
  StartSession(kStandardMode, kNoContext);
}

void CommunicationManager::OnBaseStationUnplugged(const std::string& serial) {
  Lock guard(lock);
  const bool concerned =
      baseStationInUse && (serialInUse.empty() || boost::algorithm::iequals(serialInUse, serial));
  if (!concerned) {
    const std::string inUse = baseStationInUse ? (FormatLine("in use '%s'", serialInUse)).str()
                                               : std::string("no base station in use");
    LogLine(LogLevel::kIgnored, kNoContext,
            "Unused base station has been unplugged with serial '%s' -- %s.", serial, inUse);
    return;
  }
  baseStationInUse = false;
  serialInUse.clear();
  deviceInUse.clear();
  if (active && (mode == kStandardMode || radio->IsChannelOpen())) {
    ReportFailure("kPXDaemonStationUnPlugged", context);
    ResetSession();
  }
  DestroyChannel();
  // Destroying the channel ends no close with a continuation: a user interface session that
  // waited for the close starts now, as it needs no radio to begin with.
  if (!active && restarting) {
    if (restartMode == kStandardMode) {
      restarting = false;
    } else {
      const std::string nextMode = restartMode;
      StartSession(nextMode, restartContext);
    }
  }
}

void CommunicationManager::ArmWatchdog() {
  Lock guard(lock);
  if (watchdogAttempts < kWatchdogAttemptsLimit) {
    watchdogTimer->Start(kWatchdogPeriod, [this] { OnWatchdog(); });
  } else {
    watchdogAttempts = 0;
  }
}

void CommunicationManager::OnWatchdog() {
  if (mode != kStandardMode) {
    ArmWatchdog();
    return;
  }
  const std::int64_t idleSeconds = EpochSeconds(clock.Now()) - lastActivity;
  if (idleSeconds <= watchdogIdleLimit.count()) {
    ArmWatchdog();
    return;
  }
  const auto idle = static_cast<double>(idleSeconds);
  ++watchdogAttempts;
  LogLine(LogLevel::kError, kNoContext,
          "[WATCHDOG] Communication manager has been idle for %0.2f seconds.  Restarting base "
          "station device [attempt #%d]...",
          idle, watchdogAttempts);
  ui->Relaunch(settings.vendorId, settings.productId);
  DropPendingRestart();
  StartSession(kStandardMode, kNoContext);
}

void CommunicationManager::OnBaseStationOpened(const std::string& serial,
                                               const std::string& device) {
  Lock guard(lock);
  baseStationInUse = true;
  serialInUse = serial;
  deviceInUse = device;
  watchdogAttempts = 0;
  ArmWatchdog();
}

void CommunicationManager::OnBaseStationClosed() {
  Lock guard(lock);
  watchdogTimer->Cancel();
  baseStationInUse = false;
  serialInUse.clear();
  deviceInUse.clear();
}

void CommunicationManager::OnRadioActivity() {
  Lock guard(lock);
  lastActivity = EpochSeconds(clock.Now());
}

void CommunicationManager::OnChannelInWrongState() {
  Lock guard(lock);
  channelCheckTimer->Start(kCommunicationErrorRestartDelay, [this] { OnCommunicationError(); });
}

void CommunicationManager::OnChannelOpened() {
  Lock guard(lock);
  channelCheckTimer->Cancel();
}

void CommunicationManager::OnCommunicationError() {
  ReportFailure("kPXDaemonCommunicationError", context);
  DropPendingRestart();
  Shutdown();
  StartSession(kStandardMode, kNoContext);
}

void CommunicationManager::DestroyChannel() {
  Lock guard(lock);
  watchdogTimer->Cancel();
  sessionBeaconType.clear();
  radio->DestroyChannel();
}

}  // namespace Pellux
