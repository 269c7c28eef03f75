#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace Pellux {

// pelluxctl's end of the UI channel: messages to the service, one per connection, and the
// reply endpoint where the service answers. The one platform part of pelluxctl: Unix sockets
// on Linux (ui_connection_linux.cpp), named pipes on Windows (ui_connection_win.cpp). Not
// thread-safe.
class UiConnection {
 public:
  // kUntrusted: something listens at the service's endpoint, but not the service (a process of
  // another user squatting its name); nothing was written to it.
  enum class SendResult { kSent, kNotRunning, kUntrusted, kFailed };

  UiConnection() = default;
  UiConnection(const UiConnection&) = delete;
  UiConnection& operator=(const UiConnection&) = delete;
  virtual ~UiConnection() = default;

  // The service's endpoint when none is given.
  static std::string DefaultServiceName();
  // This process's own reply endpoint name.
  static std::string DefaultReplyName();
  // Makes the reply endpoint `replyName` and the way to `serviceName`; null, with `error` set,
  // when the reply endpoint cannot be made.
  static std::unique_ptr<UiConnection> Open(const std::string& serviceName,
                                            const std::string& replyName, std::string& error);

  [[nodiscard]] virtual const std::string& ReplyName() const = 0;
  // Sends one message. kNotRunning when nothing listens at the service's endpoint.
  virtual SendResult Send(const std::string& message, std::string& error) = 0;
  // Waits up to `timeout` for one message at the reply endpoint. Nullopt when none came (the
  // error empty) or receiving failed (the error set).
  virtual std::optional<std::string> Receive(std::chrono::milliseconds timeout,
                                             std::string& error) = 0;
};

}  // namespace Pellux
