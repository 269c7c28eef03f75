#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/engine_session_control.h"
#include "app/uploader.h"
#include "base/clock.h"
#include "link/base_station_devices.h"
#include "service/host_events.h"
#include "service/systemd_notifier_linux.h"
#include "ui/channel/service_pipe.h"
#include "ui/linux_user_interface.h"
#include "ui/log/debug_output.h"
#include "ui/log/log_folder.h"

namespace Pellux {

// The `uplinker` daemon: the whole uploader (through the Uploader assembly, with the daemon's
// user interface) and the service pipe on its Unix socket, run in the foreground under systemd
// (Type=notify) or by hand. It says READY=1 once started, keeps a readable STATUS= and, when
// systemd watches it, sends WATCHDOG=1 from the engine's own event loop with the engine's lock
// held, so that a wedged engine stops the heartbeat and is restarted. SIGTERM and SIGINT stop it;
// SIGHUP makes the engine read its settings again; SIGPIPE is ignored.
//
// Threads: build, Run and destroy on the program's main thread, which must have SIGTERM, SIGINT
// and SIGHUP blocked (BlockStopSignals) before any thread is made, so that Run alone takes them.
// Apply may be called from any thread (the hotplug monitor's, the sleep watcher's).
class LinuxDaemon {
 public:
  struct Pieces {
    SettingsStore& settings;
    BaseStationDevices& devices;
    Clock& clock;
    // The service pipe's socket.
    std::string socketPath;
    // The folder holding html_templates/; empty: this program's.
    std::string programFolder;
    // Null: the platform's (the journal under systemd, else standard error; the logs directory).
    std::unique_ptr<DebugOutput> output;
    std::unique_ptr<LogFolder> logFolder;
    // STATUS= is refreshed after the engine has logged something, at most this often; with
    // nothing logged, only with the watchdog's heartbeat (and never without a watchdog), so that
    // an idle daemon wakes for nothing of its own.
    std::chrono::milliseconds statusInterval{5000};
    // What the session engine's watchdog relaunch does (DaemonRelauncher); empty: nothing.
    LinuxUserInterface::Relauncher relauncher;
    // The engine's watchdog relaunches a base station silent for longer than this.
    std::chrono::seconds watchdogIdleLimit = CommunicationManager::kWatchdogIdleLimit;
    // For the system tests of the installed daemon only: this long after Run has started, a
    // task on the engine's loop takes the engine's lock and keeps it, as a wedged engine would,
    // so that the heartbeat stops and systemd's watchdog ends the daemon. Unset: never.
    std::optional<std::chrono::milliseconds> engineStallAfter = std::nullopt;
    // What that task does with the lock held. Empty: it waits for ever, whatever arrives; a
    // SIGTERM then takes the stop path, which waits for the lock as well, so only systemd's
    // SIGABRT or SIGKILL ends the daemon. A test gives one that it can end.
    std::function<void()> engineStall = nullptr;
  };

  explicit LinuxDaemon(Pieces pieces);
  LinuxDaemon(const LinuxDaemon&) = delete;
  LinuxDaemon& operator=(const LinuxDaemon&) = delete;
  ~LinuxDaemon();

  // Blocks SIGTERM, SIGINT and SIGHUP in the calling thread (and the threads it makes later), and
  // ignores SIGPIPE in the whole process.
  static void BlockStopSignals();

  // Opens the activity log, starts the service pipe and a standard session, tells systemd it is
  // ready, and serves until SIGTERM or SIGINT arrives or Stop is called; then stops everything.
  // Returns the exit code (0, or 1 when the service pipe could not be started). While another
  // daemon answers on the socket, does nothing of that and returns 1 at once.
  int Run();
  // Ends Run from another thread.
  void Stop();

  // Logs an event's lines and hands its action to the engine.
  void Apply(const HostEventOutcome& outcome);

  [[nodiscard]] CommunicationManager& Engine() { return uploader_.Engine(); }
  [[nodiscard]] LinuxUserInterface& Interface() { return *ui_; }

 private:
  void Log(const std::string& text, int level);
  // Posts the heartbeat to the engine's loop: WATCHDOG=1 (when asked for) and STATUS=.
  void Heartbeat(bool watchdog);
  // A line was logged: the status is refreshed soon. Any thread.
  void OnActivity();
  // Posts the task that keeps the engine's lock (Pieces::engineStall).
  void StallEngine();

  Clock& clock_;
  const std::chrono::milliseconds statusInterval_;
  const std::optional<std::chrono::milliseconds> engineStallAfter_;
  std::function<void()> engineStall_;
  const std::string socketPath_;
  // Before the engine, whose lines reach OnActivity from its constructor on: set by OnActivity,
  // cleared by Run when it refreshes the status; the event wakes Run's wait.
  std::atomic<bool> statusDue_{false};
  const int activityEvent_;
  LinuxUserInterface* ui_ = nullptr;
  Uploader uploader_;
  EngineSessionControl control_;
  ServicePipe pipe_;
  SystemdNotifier notifier_;
  std::atomic<bool> stopAsked_{false};
  // Written by Stop, so that Run's wait wakes.
  const int stopEvent_;
  std::string lastStatus_;
};

}  // namespace Pellux
