#include "tools/pelluxctl/ui_connection_win.h"

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "base/system_error.h"
#include "service/service_name.h"
#include "tools/pelluxctl/service_trust_win.h"
#include "ui/channel/local_pipe_security_win.h"
#include "ui/channel/named_pipe_reply_channel_win.h"
#include "ui/channel/named_pipe_server_win.h"
#include "ui/channel/pipe_client_sender_win.h"
#include "ui/channel/ui_message.h"

namespace Pellux {
namespace {

// A reply to us must arrive whole within this time once its writer has connected.
constexpr std::chrono::seconds kReplyReadTime{5};
// How long a message waits for the service's pipe while the service reads another one.
constexpr std::chrono::seconds kServiceBusyWait{5};

// What the reply pipe's listener hands over: messages, and the lines it logs, which are the
// reasons a receive failed.
class Inbox {
 public:
  void AddMessage(const std::string& message) { Add(messages_, message); }
  void AddProblem(const std::string& line) { Add(problems_, line); }

  // The next message within `timeout`; nullopt with `error` set when a problem came first.
  std::optional<std::string> Take(std::chrono::milliseconds timeout, std::string& error) {
    std::unique_lock guard(mutex_);
    changed_.wait_for(guard, timeout, [&] { return !messages_.empty() || !problems_.empty(); });
    if (!messages_.empty()) {
      std::string message = std::move(messages_.front());
      messages_.pop_front();
      return message;
    }
    if (!problems_.empty()) {
      error = std::move(problems_.front());
      problems_.pop_front();
    }
    return std::nullopt;
  }

 private:
  void Add(std::deque<std::string>& queue, const std::string& text) {
    std::lock_guard guard(mutex_);
    queue.push_back(text);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> messages_;
  std::deque<std::string> problems_;
};

// Whether `server` may serve the service's pipe or answer on the reply pipe, for pelluxctl
// running as `ownUser`; the service manager is asked only when the answer depends on it.
bool IsTrusted(const UiSender& server, const std::string& ownUser, std::string& managerError) {
  std::optional<std::uint32_t> servicePid;
  if (!server.system && server.user != ownUser) {
    servicePid = RunningServiceProcess(kPelluxServiceName, managerError);
  }
  return TrustOf(server, servicePid, ownUser) != ServerTrust::kNone;
}

class NamedPipeUiConnection final : public UiConnection {
 public:
  // Only the service (LocalSystem), the administrators and this user may write to the reply
  // pipe `replyName`, under `accessList`; of those, only what the service, LocalSystem and
  // `ownUser` write is taken.
  NamedPipeUiConnection(std::string serviceName, std::string replyName, std::string accessList,
                        std::string ownUser)
      : serviceName_(std::move(serviceName)),
        replyName_(std::move(replyName)),
        ownUser_(std::move(ownUser)),
        // One instance: the service's answers come one at a time and are read in that order.
        endpoint_(
            replyName_, [this](const std::string& line, int /*level*/) { inbox_.AddProblem(line); },
            NamedPipeServer::Limits{.idleTimeout = kReplyReadTime,
                                    .clientTimeout = kReplyReadTime,
                                    .maxMessageBytes = kMaxUiReplyBytes,
                                    .instances = 1},
            std::move(accessList)) {}

  // Starts listening on the reply pipe; false with `error` set when it cannot.
  bool Listen(std::string& error) {
    if (endpoint_.Start([this](const UiSender& sender, const std::string& message) {
          std::string managerError;
          if (IsTrusted(sender, ownUser_, managerError)) {
            inbox_.AddMessage(message);
            return;
          }
          inbox_.AddProblem(
              "dropped a reply that did not come from the service: it was written by "
              "process " +
              std::to_string(sender.pid) + " of " + sender.user +
              (managerError.empty() ? "" : " (" + managerError + ")"));
        })) {
      return true;
    }
    inbox_.Take(std::chrono::milliseconds(0), error);
    return false;
  }

  [[nodiscard]] const std::string& ReplyName() const override { return replyName_; }

  SendResult Send(const std::string& message, std::string& error) override {
    if (!NamedPipeReplyChannel::IsLocalPipeName(serviceName_)) {
      error = serviceName_ + " is not a pipe of this machine";
      return SendResult::kFailed;
    }
    // Identification only, as the service writes to us.
    const DWORD flags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
    const auto until = std::chrono::steady_clock::now() + kServiceBusyWait;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (;;) {
      pipe = CreateFileA(serviceName_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                         nullptr);
      if (pipe != INVALID_HANDLE_VALUE) break;
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND) return SendResult::kNotRunning;
      if (code != ERROR_PIPE_BUSY || std::chrono::steady_clock::now() >= until) {
        error = SystemCallFailure("CreateFileA", serviceName_, code);
        return SendResult::kFailed;
      }
      WaitNamedPipeA(serviceName_.c_str(), 100);
    }
    // Nothing is written before it is known who serves the pipe.
    if (!Trusts(pipe, error)) {
      CloseHandle(pipe);
      return SendResult::kUntrusted;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
    const DWORD code = GetLastError();
    CloseHandle(pipe);
    if (ok == 0 || written != message.size()) {
      error = SystemCallFailure("WriteFile", serviceName_, ok == 0 ? code : ERROR_WRITE_FAULT);
      return SendResult::kFailed;
    }
    return SendResult::kSent;
  }

  std::optional<std::string> Receive(std::chrono::milliseconds timeout,
                                     std::string& error) override {
    return inbox_.Take(timeout, error);
  }

 private:
  // Whether the process serving the connected `pipe` may be sent messages; `error` says why
  // not.
  bool Trusts(HANDLE pipe, std::string& error) const {
    ULONG pid = 0;
    if (GetNamedPipeServerProcessId(pipe, &pid) == 0) {
      error = "who serves it cannot be told: " +
              SystemCallFailure("GetNamedPipeServerProcessId", serviceName_, LastSystemError());
      return false;
    }
    std::string failure;
    const auto server = ProcessSender(pid, failure);
    if (!server) {
      error = "it is served by process " + std::to_string(pid) +
              ", whose user cannot be told: " + failure;
      return false;
    }
    std::string managerError;
    if (IsTrusted(*server, ownUser_, managerError)) return true;
    error = UntrustedServerText(*server);
    if (!managerError.empty()) error += " (" + managerError + ")";
    return false;
  }

  const std::string serviceName_;
  const std::string replyName_;
  const std::string ownUser_;
  Inbox inbox_;
  // Last: its thread hands to the inbox until it is stopped.
  NamedPipeServer endpoint_;
};

}  // namespace

std::string UiConnection::DefaultServiceName() {
  return NamedPipeServer::kServiceName;
}

std::string UiConnection::DefaultReplyName() {
  return "\\\\.\\pipe\\pellux-ui-" + std::to_string(GetCurrentProcessId());
}

std::unique_ptr<UiConnection> OpenNamedPipeConnection(const std::string& serviceName,
                                                      const std::string& replyName,
                                                      const std::string& ownUser,
                                                      std::string& error) {
  if (!NamedPipeReplyChannel::IsLocalPipeName(replyName)) {
    error = "the reply pipe must be \\\\.\\pipe\\ and a name without separators";
    return nullptr;
  }
  // Other users' processes may not write to the reply pipe: only the service's answers count.
  std::string accessList = LocalPipeSecurity::ServiceAndUserSddl(error);
  if (accessList.empty()) return nullptr;
  auto connection = std::make_unique<NamedPipeUiConnection>(serviceName, replyName,
                                                            std::move(accessList), ownUser);
  if (!connection->Listen(error)) return nullptr;
  return connection;
}

std::unique_ptr<UiConnection> UiConnection::Open(const std::string& serviceName,
                                                 const std::string& replyName, std::string& error) {
  const auto me = ProcessSender(GetCurrentProcessId(), error);
  if (!me) return nullptr;
  return OpenNamedPipeConnection(serviceName, replyName, me->user, error);
}

}  // namespace Pellux
