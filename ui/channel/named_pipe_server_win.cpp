#include "ui/channel/named_pipe_server_win.h"

#include <algorithm>
#include <utility>

#include "base/log_format.h"
#include "base/log_level.h"
#include "base/system_error.h"
#include "ui/channel/pipe_client_sender_win.h"

namespace Pellux {
namespace {

// After a failed wait for a client or for the instances, the listener waits this long before it
// tries again, instead of spinning.
constexpr std::chrono::milliseconds kRetryAfterFailure{100};
// The longest the loop sleeps without looking at the clock.
constexpr DWORD kLongestWaitMs = 1000;
// WaitForMultipleObjects takes at most 64 handles: the stop event and the instances'.
constexpr std::size_t kMostInstances = MAXIMUM_WAIT_OBJECTS - 1;

using SteadyClock = std::chrono::steady_clock;

DWORD MillisecondsUntil(SteadyClock::time_point when, SteadyClock::time_point now) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, kLongestWaitMs));
}

HANDLE NewEvent() {
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

NamedPipeServer::NamedPipeServer(std::string name, Log log, Limits limits, std::string accessList)
    : name_(std::move(name)),
      log_(std::move(log)),
      limits_(limits),
      accessList_(std::move(accessList)),
      instanceCount_(std::clamp<std::size_t>(limits.instances, 1, kMostInstances)) {}

NamedPipeServer::NamedPipeServer(std::string name, Log log)
    : NamedPipeServer(std::move(name), std::move(log), Limits{}) {}

NamedPipeServer::~NamedPipeServer() {
  Stop();
}

HANDLE NamedPipeServer::PipeHandle() const {
  return instances_ ? instances_[0].pipe : INVALID_HANDLE_VALUE;
}

bool NamedPipeServer::Fail(const std::string& reason) {
  startFailure_ = reason;
  log_(FormatLine("UI: Cannot listen for UI messages: %s", reason).str(), LogLevel::kError);
  CloseInstances();
  CloseIfOpen(stopEvent_);
  CloseIfOpen(finishedEvent_);
  return false;
}

void NamedPipeServer::CloseInstances() {
  if (!instances_) return;
  for (std::size_t i = 0; i < instanceCount_; ++i) {
    CloseIfOpen(instances_[i].pipe);
    CloseIfOpen(instances_[i].event);
  }
  instances_.reset();
}

bool NamedPipeServer::Start(MessageHandler handler) {
  if (running_.load()) return true;
  startFailure_.clear();
  LocalPipeSecurity security(accessList_);
  if (security.Attributes() == nullptr) return Fail(security.Failure());
  stopEvent_ = NewEvent();
  finishedEvent_ = NewEvent();
  if (stopEvent_ == nullptr || finishedEvent_ == nullptr) {
    return Fail(SystemCallFailure("CreateEventA", "", LastSystemError()));
  }
  // All instances up front, the first with the first-instance flag and the instance limit
  // their number: nobody else can add one beside them, before or after.
  const auto count = static_cast<DWORD>(instanceCount_);
  instances_ = std::make_unique<Instance[]>(instanceCount_);
  for (std::size_t i = 0; i < instanceCount_; ++i) {
    Instance& instance = instances_[i];
    const DWORD first = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
    instance.pipe = CreateNamedPipeA(
        name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | first,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, count,
        kBufferBytes, kBufferBytes, kDefaultTimeoutMs, security.Attributes());
    if (instance.pipe == INVALID_HANDLE_VALUE) {
      return Fail(SystemCallFailure("CreateNamedPipeA", name_, LastSystemError()));
    }
    instance.event = NewEvent();
    if (instance.event == nullptr) {
      return Fail(SystemCallFailure("CreateEventA", "", LastSystemError()));
    }
    instance.piece.resize(kReadPieceBytes);
  }
  // Where the first-instance flag is not enforced (Wine), a pipe someone made before us still
  // shows in its instance limit, which is the first maker's.
  DWORD limit = 0;
  if (GetNamedPipeInfo(instances_[0].pipe, nullptr, nullptr, nullptr, &limit) == 0) {
    return Fail(SystemCallFailure("GetNamedPipeInfo", name_, LastSystemError()));
  }
  if (limit != count) {
    return Fail(FormatLine("%s was made by another process first (it allows %d instances, not %d)",
                           name_, limit, count)
                    .str());
  }
  TakeUpFreshInstances();
  handler_ = std::move(handler);
  connections_ = 0;
  running_.store(true);
  thread_ = std::thread([this] {
    Run();
    SetEvent(finishedEvent_);
  });
  return true;
}

void NamedPipeServer::Stop() {
  if (!running_.exchange(false)) return;
  SetEvent(stopEvent_);
  // Every wait of the listener ends on the stop event; only a handler still at work keeps it.
  if (WaitForSingleObject(finishedEvent_, kStopWaitMs) != WAIT_OBJECT_0) {
    log_(FormatLine("UI: The listener is still handling a message after %d ms; waiting for it",
                    kStopWaitMs)
             .str(),
         LogLevel::kError);
  }
  thread_.join();
  CloseInstances();
  CloseIfOpen(stopEvent_);
  CloseIfOpen(finishedEvent_);
}

void NamedPipeServer::TakeUpFreshInstances() {
  // A fresh instance takes a client before anyone asks it to, so all of them would wait at once
  // and the order of their clients be lost: connect to all but one and let go, which leaves them
  // disconnected until the listener asks one of them to wait. A client that came first keeps
  // its instance, and then one fewer is taken here.
  std::vector<HANDLE> taken;
  for (std::size_t i = 1; i < instanceCount_; ++i) {
    const HANDLE own = CreateFileA(name_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (own == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      // Busy: every instance has a client, some of them another's.
      if (code != ERROR_PIPE_BUSY) {
        log_(FormatLine("UI: Taking up the fresh instances of the pipe failed: %s",
                        SystemCallFailure("CreateFileA", name_, code))
                 .str(),
             LogLevel::kError);
      }
      break;
    }
    taken.push_back(own);
  }
  for (const HANDLE own : taken) CloseHandle(own);
}

void NamedPipeServer::Run() {
  Messages messages;
  for (std::size_t i = 0; i < instanceCount_; ++i) Listen(instances_[i], messages, true);
  std::vector<HANDLE> waited;
  for (;;) {
    // The I/O of a round first, then one instance waits for the next client, and only then are
    // the messages handed on: clients may connect meanwhile.
    const DWORD waitMs = ExpireClients();
    EnsureOneListens(messages);
    std::stable_sort(messages.begin(), messages.end(),
                     [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
    for (const auto& [order, sender, message] : messages) {
      if (!running_.load()) break;
      handler_(sender, message);
    }
    messages.clear();
    if (!running_.load()) break;
    waited.assign(1, stopEvent_);
    for (std::size_t i = 0; i < instanceCount_; ++i) {
      if (instances_[i].pending) waited.push_back(instances_[i].event);
    }
    const DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(waited.size()), waited.data(), FALSE, waitMs);
    if (result == WAIT_OBJECT_0 || !running_.load()) break;
    if (result == WAIT_FAILED) {
      log_(FormatLine("UI: Waiting for UI messages failed: %s",
                      SystemCallFailure("WaitForMultipleObjects", name_, LastSystemError()))
               .str(),
           LogLevel::kError);
      WaitForSingleObject(stopEvent_, static_cast<DWORD>(kRetryAfterFailure.count()));
      continue;
    }
    // Every operation that has ended, not only the one the wait named.
    for (std::size_t i = 0; i < instanceCount_; ++i) {
      Instance& instance = instances_[i];
      if (instance.pending && WaitForSingleObject(instance.event, 0) == WAIT_OBJECT_0) {
        Complete(instance, messages);
      }
    }
  }
  // The operations must be over before their OVERLAPPED go with the instances.
  for (std::size_t i = 0; i < instanceCount_; ++i) {
    Instance& instance = instances_[i];
    if (!instance.pending) continue;
    CancelIoEx(instance.pipe, &instance.overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(instance.pipe, &instance.overlapped, &ignored, TRUE);
    instance.pending = false;
  }
}

void NamedPipeServer::Listen(Instance& instance, Messages& messages, bool atStart) {
  ResetEvent(instance.event);
  instance.overlapped = OVERLAPPED{};
  instance.overlapped.hEvent = instance.event;
  DWORD code = 0;
  if (ConnectNamedPipe(instance.pipe, &instance.overlapped) == 0) code = GetLastError();
  switch (code) {
    case ERROR_IO_PENDING:
      instance.pending = true;
      instance.state = State::kListening;
      return;
    case 0:
    case ERROR_PIPE_CONNECTED:
    case ERROR_NO_DATA:
      // Connected before we asked, and maybe gone again: what it wrote may still be there.
      if (atStart) {
        DWORD waiting = 0;
        if (PeekNamedPipe(instance.pipe, nullptr, 0, nullptr, &waiting, nullptr) == 0) {
          // Gone without a byte: one of TakeUpFreshInstances' own.
          instance.state = State::kReading;
          Disconnect(instance);
          return;
        }
      }
      OnConnected(instance, messages);
      return;
    default:
      log_(FormatLine("UI: Waiting for a UI connection failed: %s",
                      SystemCallFailure("ConnectNamedPipe", name_, code))
               .str(),
           LogLevel::kError);
      instance.state = State::kFree;
      instance.retryAt = SteadyClock::now() + kRetryAfterFailure;
      return;
  }
}

void NamedPipeServer::EnsureOneListens(Messages& messages) {
  // A listen may find a client there already and take it; then another instance is asked.
  for (std::size_t attempt = 0; attempt < instanceCount_; ++attempt) {
    Instance* free = nullptr;
    const auto now = SteadyClock::now();
    for (std::size_t i = 0; i < instanceCount_; ++i) {
      Instance& instance = instances_[i];
      if (instance.state == State::kListening) return;
      if (free == nullptr && instance.state == State::kFree && instance.retryAt <= now) {
        free = &instance;
      }
    }
    if (free == nullptr) return;
    Listen(*free, messages);
  }
}

void NamedPipeServer::Complete(Instance& instance, Messages& messages) {
  DWORD bytes = 0;
  const DWORD error = GetOverlappedResult(instance.pipe, &instance.overlapped, &bytes, FALSE) != 0
                          ? 0
                          : GetLastError();
  // Not over after all: its OVERLAPPED stays in use, and the next round looks again.
  if (error == ERROR_IO_INCOMPLETE) return;
  instance.pending = false;
  if (instance.state == State::kListening) {
    if (error == 0 || error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
      OnConnected(instance, messages);
      return;
    }
    log_(FormatLine("UI: Waiting for a UI connection failed: %s",
                    SystemCallFailure("ConnectNamedPipe", name_, error))
             .str(),
         LogLevel::kError);
    instance.state = State::kFree;
    instance.retryAt = SteadyClock::now() + kRetryAfterFailure;
    return;
  }
  if (TakePiece(instance, bytes, error, messages)) ReadOn(instance, messages);
}

void NamedPipeServer::OnConnected(Instance& instance, Messages& messages) {
  const auto now = SteadyClock::now();
  instance.state = State::kReading;
  instance.order = ++connections_;
  instance.message.clear();
  instance.started = now;
  instance.lastRead = now;
  // Who it is, asked while the client is connected; a client that has gone already is asked
  // again, from the token its message carries, once that is read.
  std::string error;
  auto sender = PipeClientSender(instance.pipe, error);
  instance.senderKnown = sender.has_value();
  instance.sender = sender ? std::move(*sender) : UiSender{};
  ReadOn(instance, messages);
  // A client whose whole message is in already takes no place among the waiting.
  if (instance.state != State::kReading) return;
  const auto waiting = static_cast<std::size_t>(std::count_if(
      instances_.get(), instances_.get() + instanceCount_, [&](const Instance& other) {
        return &other != &instance && other.state == State::kReading &&
               other.sender.user == instance.sender.user;
      }));
  if (waiting >= limits_.maxPerUser) {
    LogLimited(instance.sender, "busy", LogLevel::kIgnored,
               FormatLine("UI: Dropping a connection from %s: %d of its connections are waiting "
                          "(at most %d)",
                          instance.sender.user, waiting, limits_.maxPerUser)
                   .str());
    Disconnect(instance);
  }
}

void NamedPipeServer::ReadOn(Instance& instance, Messages& messages) {
  for (;;) {
    ResetEvent(instance.event);
    instance.overlapped = OVERLAPPED{};
    instance.overlapped.hEvent = instance.event;
    DWORD error = 0;
    if (ReadFile(instance.pipe, instance.piece.data(), kReadPieceBytes, nullptr,
                 &instance.overlapped) == 0) {
      error = GetLastError();
    }
    if (error == ERROR_IO_PENDING) {
      instance.pending = true;
      return;
    }
    DWORD bytes = 0;
    if (error == 0 || error == ERROR_MORE_DATA) {
      // Done at once: the count is in the overlapped result.
      GetOverlappedResult(instance.pipe, &instance.overlapped, &bytes, FALSE);
    }
    if (!TakePiece(instance, bytes, error, messages)) return;
  }
}

bool NamedPipeServer::TakePiece(Instance& instance, DWORD bytes, DWORD error, Messages& messages) {
  const UiSender& sender = instance.sender;
  if (error != 0 && error != ERROR_MORE_DATA) {
    LogLimited(sender, "read", LogLevel::kError,
               FormatLine("UI: Reading a message from %s failed: %s", sender.user,
                          SystemCallFailure("ReadFile", name_, error))
                   .str());
    Disconnect(instance);
    return false;
  }
  instance.message.append(instance.piece.data(), bytes);
  instance.lastRead = SteadyClock::now();
  if (instance.message.size() > limits_.maxMessageBytes) {
    // Read no further: the client's write fails.
    LogLimited(sender, "long", LogLevel::kIgnored,
               FormatLine("UI: Dropping a message of more than %d bytes from %s",
                          limits_.maxMessageBytes, sender.user)
                   .str());
    Disconnect(instance);
    return false;
  }
  if (error == ERROR_MORE_DATA) return true;
  if (instance.message.empty()) {
    LogLimited(
        sender, "empty", LogLevel::kIgnored,
        FormatLine("UI: Ignoring a connection from %s that sent nothing", sender.user).str());
    Disconnect(instance);
    return false;
  }
  // The message's own token says who sent it; what was learnt at the connection stands in only
  // when that cannot be had.
  std::string why;
  if (auto confirmed = PipeClientSender(instance.pipe, why)) {
    instance.sender = std::move(*confirmed);
  } else if (!instance.senderKnown) {
    LogLimited(UiSender{}, "unknown", LogLevel::kError,
               FormatLine("UI: Dropping a message from an unknown sender: %s", why).str());
    Disconnect(instance);
    return false;
  }
  messages.emplace_back(instance.order, instance.sender, std::move(instance.message));
  // The client is let go before its message is handled.
  Disconnect(instance);
  return false;
}

DWORD NamedPipeServer::ExpireClients() {
  const auto now = SteadyClock::now();
  DWORD waitMs = kLongestWaitMs;
  bool listening = false;
  for (std::size_t i = 0; i < instanceCount_; ++i) {
    Instance& instance = instances_[i];
    listening = listening || instance.state == State::kListening;
    if (instance.state != State::kReading) continue;
    const auto idleEnd = instance.lastRead + limits_.idleTimeout;
    const auto wholeEnd = instance.started + limits_.clientTimeout;
    if (now >= idleEnd || now >= wholeEnd) {
      const bool idle = now >= idleEnd;
      LogLimited(
          instance.sender, "slow", LogLevel::kIgnored,
          FormatLine("UI: Giving up on a client (%s) that %s within %d ms (%d bytes read)",
                     instance.sender.user, idle ? "sent nothing more" : "did not end its message",
                     (idle ? limits_.idleTimeout : limits_.clientTimeout).count(),
                     instance.message.size())
              .str());
      Disconnect(instance);
      continue;
    }
    waitMs = std::min(waitMs, MillisecondsUntil(std::min(idleEnd, wholeEnd), now) + 1);
  }
  // Nobody waits for a client while a failed instance rests: wake when it may try again.
  for (std::size_t i = 0; i < instanceCount_ && !listening; ++i) {
    const Instance& instance = instances_[i];
    if (instance.state == State::kFree && instance.retryAt > now) {
      waitMs = std::min(waitMs, MillisecondsUntil(instance.retryAt, now) + 1);
    }
  }
  return waitMs;
}

void NamedPipeServer::Disconnect(Instance& instance) {
  if (instance.pending) {
    CancelIoEx(instance.pipe, &instance.overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(instance.pipe, &instance.overlapped, &ignored, TRUE);
    instance.pending = false;
  }
  if (DisconnectNamedPipe(instance.pipe) == 0) {
    log_(FormatLine("UI: Letting a UI client go failed: %s",
                    SystemCallFailure("DisconnectNamedPipe", name_, LastSystemError()))
             .str(),
         LogLevel::kError);
  }
  ResetEvent(instance.event);
  instance.state = State::kFree;
  instance.sender = UiSender{};
  instance.message.clear();
}

void NamedPipeServer::LogLimited(const UiSender& sender, const char* what, int level,
                                 const std::string& line) {
  if (limitedLines_.Allow(sender.user + '\n' + what, std::chrono::system_clock::now())) {
    log_(line, level);
  }
}

}  // namespace Pellux
