#include "service/linux_daemon_linux.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "service/activity_output.h"
#include "service/daemon_status.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

// The signals the daemon's own loop takes: SIGTERM and SIGINT stop it, SIGHUP (systemctl
// reload) makes the engine read its settings again.
sigset_t LoopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

LinuxDaemon::LinuxDaemon(Pieces pieces)
    : clock_(pieces.clock),
      statusInterval_(pieces.statusInterval),
      engineStallAfter_(pieces.engineStallAfter),
      engineStall_(std::move(pieces.engineStall)),
      socketPath_(pieces.socketPath),
      activityEvent_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      uploader_(
          {.settings = pieces.settings,
           .devices = pieces.devices,
           .clock = pieces.clock,
           .makeUserInterface =
               [this, &pieces](SettingsStore& settings, NetworkWorkerPool& pool) {
                 auto output = std::make_unique<ActivityOutput>(
                     pieces.output ? std::move(pieces.output) : DebugOutput::CreateForPlatform(),
                     [this] { OnActivity(); });
                 auto made = std::make_unique<LinuxUserInterface>(
                     settings, pool, AnswersToEngine(), pieces.clock, pieces.programFolder,
                     std::move(output), std::move(pieces.logFolder), std::move(pieces.relauncher));
                 ui_ = made.get();
                 return made;
               },
           // What the transport says of an exchange (a failure, its reason) reaches the log:
           // the engine itself only learns that the exchange failed.
           .httpLog = [this](const std::string& line) { Log(line, LogLevel::kError); },
           .httpLimits = {},
           .radioTiming = {},
           .identifiers = nullptr,
           .watchdogIdleLimit = pieces.watchdogIdleLimit}),
      control_(uploader_.Engine()),
      pipe_(control_, *ui_, pieces.clock, ui_->MakeListener(pieces.socketPath)),
      notifier_([this](const std::string& line) { Log(line, LogLevel::kError); }),
      stopEvent_(eventfd(0, EFD_CLOEXEC)) {
  if (stopEvent_ < 0) Log(SystemCallFailure("eventfd", "", LastSystemError()), LogLevel::kError);
  if (activityEvent_ < 0) {
    Log(SystemCallFailure("eventfd", "activity", LastSystemError()), LogLevel::kError);
  }
}

LinuxDaemon::~LinuxDaemon() {
  pipe_.Stop();
  if (stopEvent_ >= 0) close(stopEvent_);
  if (activityEvent_ >= 0) close(activityEvent_);
}

void LinuxDaemon::OnActivity() {
  // One wake-up for a burst of lines: only the first line after a refresh writes the event. A
  // failed write is not logged, which would come back here; the next heartbeat refreshes.
  if (statusDue_.exchange(true) || activityEvent_ < 0) return;
  const std::uint64_t one = 1;
  (void)!write(activityEvent_, &one, sizeof one);
}

void LinuxDaemon::BlockStopSignals() {
  const sigset_t signals = LoopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A peer that closes its end (a UI client gone before its reply) is an error of that write,
  // never the end of the daemon.
  signal(SIGPIPE, SIG_IGN);
}

void LinuxDaemon::Log(const std::string& text, int level) {
  ui_->Log(text, level, kNoContext);
}

void LinuxDaemon::Apply(const HostEventOutcome& outcome) {
  // Once stopping, the engine takes no more device or power actions.
  if (stopAsked_.load()) return;
  for (const HostEventOutcome::Line& line : outcome.lines) Log(line.text, line.level);
  if (outcome.action) {
    Engine().ProcessAction(0, outcome.action->name, outcome.action->argument, false, kNoContext);
  }
}

void LinuxDaemon::Heartbeat(bool watchdog) {
  CommunicationManager& engine = Engine();
  engine.PostLocked([this, watchdog, &engine] {
    DaemonSnapshot snapshot;
    snapshot.baseStationOpen = engine.IsBaseStationInUse();
    snapshot.mode = engine.Mode();
    snapshot.linked = engine.RunningCommand() != nullptr;
    snapshot.uploading = engine.CurrentRequestId() != 0;
    snapshot.lastSleepTime = engine.LastSleepTime();
    const std::string status = DaemonStatusText(snapshot);
    std::string state = watchdog ? "WATCHDOG=1\n" : "";
    if (status != lastStatus_) {
      lastStatus_ = status;
      state += "STATUS=" + status + "\n";
    }
    if (!state.empty()) notifier_.Notify(state);
  });
}

void LinuxDaemon::StallEngine() {
  Engine().PostLocked([this] {
    Log("The engine stalls as asked (engine-stall-after): its loop keeps the engine's lock from "
        "now on, and the watchdog's heartbeat stops",
        LogLevel::kError);
    if (engineStall_) {
      engineStall_();
      return;
    }
    // Only a signal that ends the process ends this: every stop signal is blocked in this
    // thread, and the stop path waits for the lock.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  });
}

int LinuxDaemon::Run() {
  const sigset_t signals = LoopSignals();
  const int signalDescriptor = signalfd(-1, &signals, SFD_CLOEXEC);
  if (signalDescriptor < 0) {
    Log(SystemCallFailure("signalfd", "SIGTERM, SIGINT, SIGHUP", LastSystemError()),
        LogLevel::kError);
  }

  // A second daemon leaves the running one alone: its socket, its base station, its log.
  if (UnixSocket::Answers(socketPath_)) {
    Log(FormatLine("Another uplinker is running: %s answers. This one does not start.", socketPath_)
            .str(),
        LogLevel::kError);
    if (signalDescriptor >= 0) close(signalDescriptor);
    return 1;
  }
  ui_->Activity().Open();
  int exitCode = 0;
  if (!pipe_.Start()) {
    Log("The UI channel could not be started: no UI can reach the uploader", LogLevel::kError);
    exitCode = 1;
  }
  Engine().ProcessAction(0, "init", "standard", false, kNoContext);
  const auto heartbeat = notifier_.HeartbeatInterval();
  notifier_.Notify("READY=1");
  Heartbeat(heartbeat.has_value());

  // Two things wake the loop besides signals and Stop: the watchdog's heartbeat, when systemd
  // asks for one, and a status refresh after the engine has logged, at most every
  // statusInterval_. Idle, with no watchdog, it sleeps until a signal. A stall asked for wakes
  // it once more.
  using Steady = std::chrono::steady_clock;
  const auto never = Steady::time_point::max();
  auto nextWatchdog = heartbeat ? Steady::now() + *heartbeat : never;
  auto stallAt = engineStallAfter_ ? Steady::now() + *engineStallAfter_ : never;
  auto lastStatus = Steady::now();
  while (!stopAsked_.load()) {
    auto wake = std::min(nextWatchdog, stallAt);
    if (statusDue_.load()) wake = std::min(wake, lastStatus + statusInterval_);
    int timeoutMs = -1;
    if (wake != never) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - Steady::now()).count();
      timeoutMs = static_cast<int>(std::clamp<long long>(left, 0, 24LL * 3600 * 1000));
    }
    pollfd waits[3] = {
        {signalDescriptor, POLLIN, 0}, {stopEvent_, POLLIN, 0}, {activityEvent_, POLLIN, 0}};
    const int ready = poll(waits, 3, timeoutMs);
    if (ready < 0 && errno != EINTR) {
      Log(SystemCallFailure("poll", "stop signals", LastSystemError()), LogLevel::kError);
      clock_.Sleep(statusInterval_);
    }
    if (ready > 0 && (waits[0].revents & POLLIN) != 0) {
      signalfd_siginfo received{};
      if (read(signalDescriptor, &received, sizeof received) != sizeof received) continue;
      if (received.ssi_signo == SIGHUP) {
        Log("SIGHUP received: reading the settings again", LogLevel::kLifecycle);
        Engine().ProcessAction(0, "refresh", "settings", false, kNoContext);
        continue;
      }
      Log(received.ssi_signo == SIGINT ? "SIGINT received" : "SIGTERM received",
          LogLevel::kLifecycle);
      break;
    }
    if (ready > 0 && (waits[1].revents & POLLIN) != 0) break;
    if (ready > 0 && (waits[2].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      (void)!read(activityEvent_, &count, sizeof count);
    }
    const auto now = Steady::now();
    if (now >= stallAt) {
      stallAt = never;
      StallEngine();
    }
    const bool watchdogDue = now >= nextWatchdog;
    const bool statusDue = statusDue_.load() && now >= lastStatus + statusInterval_;
    if (!watchdogDue && !statusDue) continue;
    // The heartbeat refreshes the status too: what was logged until now is in it.
    statusDue_.store(false);
    lastStatus = now;
    if (watchdogDue) nextWatchdog = now + *heartbeat;
    Heartbeat(watchdogDue);
  }

  stopAsked_.store(true);
  notifier_.Notify("STOPPING=1\nSTATUS=Stopping");
  Log("SERVICE STOP EVENT", LogLevel::kUserInput);
  Engine().ProcessAction(0, "shutdown", "", false, kNoContext);
  pipe_.Stop();
  uploader_.Stop();
  if (signalDescriptor >= 0) close(signalDescriptor);
  return exitCode;
}

void LinuxDaemon::Stop() {
  stopAsked_.store(true);
  const std::uint64_t one = 1;
  if (stopEvent_ >= 0 && write(stopEvent_, &one, sizeof one) < 0) {
    Log(SystemCallFailure("write", "stop event", LastSystemError()), LogLevel::kError);
  }
}

}  // namespace Pellux
