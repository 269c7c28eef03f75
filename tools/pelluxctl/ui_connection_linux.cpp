#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "tools/pelluxctl/ui_connection.h"
#include "ui/channel/ui_message.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

// A reply to us must arrive whole within this time once its writer has connected.
constexpr std::chrono::seconds kReplyReadTime{5};

class UnixUiConnection final : public UiConnection {
 public:
  UnixUiConnection(std::string serviceName, std::string replyName, UnixSocket endpoint)
      : serviceName_(std::move(serviceName)),
        replyName_(std::move(replyName)),
        endpoint_(std::move(endpoint)) {
    struct stat status {};
    if (stat(serviceName_.c_str(), &status) == 0) serviceUid_ = status.st_uid;
  }

  [[nodiscard]] const std::string& ReplyName() const override { return replyName_; }

  SendResult Send(const std::string& message, std::string& error) override {
    bool missing = false;
    auto socket = UnixSocket::Connect(serviceName_, missing, error);
    if (!socket) return missing ? SendResult::kNotRunning : SendResult::kFailed;
    // Nothing, a password least of all, goes to a process that only squats the service's name.
    const auto listener = socket->PeerUid(error);
    if (!listener) return SendResult::kFailed;
    if (!IsTrustedService(*listener)) {
      error = "it is served by uid " + std::to_string(*listener) + ", not by root, the service's " +
              "user (" + kServiceUser + ") or this user";
      return SendResult::kUntrusted;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    if (!socket->WriteAll(message, deadline, error) || !socket->ShutdownWrite(error)) {
      return SendResult::kFailed;
    }
    return SendResult::kSent;
  }

  std::optional<std::string> Receive(std::chrono::milliseconds timeout,
                                     std::string& error) override {
    const auto until = std::chrono::steady_clock::now() + timeout;
    std::optional<UnixSocket> client;
    while (!client) {
      client = endpoint_.Accept(-1, until, error);
      if (!client) return std::nullopt;
      // Anyone may connect to an abstract name: only the service's answers count.
      if (!IsFromTheService(*client, error)) client.reset();
    }
    std::string text;
    const auto end = client->ReadAll(
        kMaxUiReplyBytes, -1, std::chrono::steady_clock::now() + kReplyReadTime, text, error);
    switch (end) {
      case UnixSocket::ReadEnd::kComplete:
        return text;
      case UnixSocket::ReadEnd::kTooLong:
        error = "a reply longer than " + std::to_string(kMaxUiReplyBytes) + " bytes was dropped";
        return std::nullopt;
      case UnixSocket::ReadEnd::kTimedOut:
        error = "a reply did not arrive whole in time";
        return std::nullopt;
      case UnixSocket::ReadEnd::kWoken:
      case UnixSocket::ReadEnd::kFailed:
        return std::nullopt;
    }
    return std::nullopt;
  }

 private:
  static constexpr const char* kServiceUser = "pellux";

  // Root, the service's user, or this user (who may run a daemon of his own).
  static bool IsTrustedService(std::uint32_t uid) {
    if (uid == 0 || uid == getuid()) return true;
    const passwd* service = getpwnam(kServiceUser);
    return service != nullptr && uid == service->pw_uid;
  }

  // Root, this user, or the owner of the service's socket file.
  bool IsFromTheService(const UnixSocket& client, std::string& error) const {
    const auto uid = client.PeerUid(error);
    if (!uid) return false;
    return *uid == 0 || *uid == getuid() || (serviceUid_ && *uid == *serviceUid_);
  }

  std::optional<std::uint32_t> serviceUid_;
  const std::string serviceName_;
  const std::string replyName_;
  UnixSocket endpoint_;
};

}  // namespace

std::string UiConnection::DefaultServiceName() {
  return "/run/pellux/service.sock";
}

std::string UiConnection::DefaultReplyName() {
  return "@pellux-ui-" + std::to_string(getuid()) + "-" + std::to_string(getpid());
}

std::unique_ptr<UiConnection> UiConnection::Open(const std::string& serviceName,
                                                 const std::string& replyName, std::string& error) {
  // A path endpoint gets the umask's mode, so that the service's user may write to it; who
  // wrote is checked on each reply.
  bool busy = false;
  auto endpoint = UnixSocket::Listen(replyName, 0, busy, error);
  if (!endpoint) return nullptr;
  return std::make_unique<UnixUiConnection>(serviceName, replyName, std::move(*endpoint));
}

}  // namespace Pellux
