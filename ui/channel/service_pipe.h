#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "base/clock.h"
#include "base/context.h"
#include "base/guarded_timer.h"
#include "base/ui_sender.h"
#include "ui/channel/line_rate_limit.h"
#include "ui/channel/pipe_server.h"
#include "ui/channel/service_pipe_hooks.h"
#include "ui/channel/session_control.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

// The service's side of the UI channel: reads each message a UI writes, turns it into actions
// for the engine, settings, requests and status answers, and keeps the UI watchdog, which
// finishes a UI session whose UI has stopped polling.
//
// Senders: every message comes with who sent it. Messages that change what the service does
// for everybody (ui_permissions.h) are refused unless the sender is an administrator; a refused
// message changes nothing and gets no answer.
//
// Contexts: a context is the endpoint a user named (ReplyEndpoints, kept by the bridge): the
// same name from the same user gives the same Context for as long as anything holds it, so the
// engine may hold on to them and compare them by identity; the same name from another user is
// another context.
//
// Text a UI wrote reaches the log only escaped and cut (LogSafeText), and a sender repeating a
// refused, unknown or malformed message is logged once a second.
//
// Threads: OnMessage runs on the listener's thread (one message at a time); the watchdog fires
// on the pipe's own timer thread. Both take the pipe's lock, and call the engine and the hooks
// with it held; neither calls back into the pipe.
class ServicePipe {
 public:
  static constexpr std::chrono::milliseconds kWatchdogPeriod{5000};
  static constexpr const char* kSettingsSection = "Tracker";

  // `engine`, `hooks` and `clock` must outlive the pipe; `listener` may be null when messages
  // come in through OnMessage only. The watchdog's timer thread starts here.
  ServicePipe(SessionControl& engine, ServicePipeHooks& hooks, Clock& clock,
              std::unique_ptr<PipeServer> listener);
  ServicePipe(const ServicePipe&) = delete;
  ServicePipe& operator=(const ServicePipe&) = delete;
  // Stops, and joins the timer thread.
  ~ServicePipe();

  // Starts the listener; false when it could not listen (or there is none). Service main thread.
  bool Start();
  // Cancels the watchdog, then stops the listener. Service main thread; twice does no harm.
  void Stop();

  // Handles one message from a UI, whatever it holds, as `sender` sent it. Listener thread.
  void OnMessage(const UiSender& sender, std::string_view text);

  // The context a message of `sender` naming `replyName` would get (and makes it, as such a
  // message would); null when the name is refused. Any thread.
  Context ContextFor(const UiSender& sender, const std::string& replyName);

 private:
  void LogLine(int level, const std::string& text);
  // A line about `sender` of the kind `what`, at most once a second for each sender and kind.
  void LogLimited(const UiSender& sender, const char* what, int level, const std::string& text);
  void Dispatch(const UiMessage& message, Context context, std::string_view whole);
  void OnStatusPoll(Context context);
  void OnStatusRecordRequest(const UiSender& sender, Context context);
  void OnLogging(const UiMessage& message, std::string_view whole);
  void OnProxy(const UiMessage& message, std::string_view whole);
  void OnSession(const UiMessage& message, Context context, std::string_view whole);
  void OnOpenUrl(const UiMessage& message, Context context);
  // (Re)arms the watchdog when the running (or starting) session is not "standard".
  void RestartWatchdogFor(const std::string& mode);
  void OnWatchdog();

  SessionControl& engine_;
  ServicePipeHooks& hooks_;
  Clock& clock_;
  std::unique_ptr<PipeServer> listener_;

  // Guards the rate limit and the watchdog; held through the handling of each message.
  std::recursive_mutex lock_;
  LineRateLimit limitedLines_;

  // The timer thread outlives the watchdog on it.
  boost::asio::io_context timerQueue_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> timerWork_;
  std::thread timerThread_;
  std::unique_ptr<GuardedTimer> watchdog_;
  bool stopped_ = false;
};

}  // namespace Pellux
