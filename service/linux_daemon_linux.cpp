#include "service/linux_daemon_linux.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
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
      socketPath_(pieces.socketPath),
      uploader_({.settings = pieces.settings,
                 .devices = pieces.devices,
                 .clock = pieces.clock,
                 .makeUserInterface =
                     [this, &pieces](SettingsStore& settings, NetworkWorkerPool& pool) {
                       auto made = std::make_unique<LinuxUserInterface>(
                           settings, pool, AnswersToEngine(), pieces.clock, pieces.programFolder,
                           std::move(pieces.output), std::move(pieces.logFolder),
                           std::move(pieces.relauncher));
                       ui_ = made.get();
                       return made;
                     },
                 .httpLog = {},
                 .httpLimits = {},
                 .radioTiming = {},
                 .identifiers = nullptr}),
      control_(uploader_.Engine()),
      pipe_(control_, *ui_, pieces.clock, ui_->MakeListener(pieces.socketPath)),
      notifier_([this](const std::string& line) { Log(line, LogLevel::kError); }),
      stopEvent_(eventfd(0, EFD_CLOEXEC)) {
  if (stopEvent_ < 0) Log(SystemCallFailure("eventfd", "", LastSystemError()), LogLevel::kError);
}

LinuxDaemon::~LinuxDaemon() {
  pipe_.Stop();
  if (stopEvent_ >= 0) close(stopEvent_);
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

  const auto interval = heartbeat ? std::min(*heartbeat, statusInterval_) : statusInterval_;
  while (!stopAsked_.load()) {
    pollfd waits[2] = {{signalDescriptor, POLLIN, 0}, {stopEvent_, POLLIN, 0}};
    const int ready = poll(waits, 2, static_cast<int>(interval.count()));
    if (ready < 0 && errno != EINTR) {
      Log(SystemCallFailure("poll", "stop signals", LastSystemError()), LogLevel::kError);
      clock_.Sleep(interval);
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
    Heartbeat(heartbeat.has_value());
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
