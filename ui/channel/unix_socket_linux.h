#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ui_sender.h"

namespace Pellux {

// One Unix domain stream socket of the UI channel, closed when the object goes: the service's
// listener, a UI's reply endpoint, and the connections between them, one message each (the
// writer half-closes to end it). An endpoint name is a path, or an abstract name written with a
// leading "@". Failures carry the call, the code and the system's text (base/system_error.h).
// Not thread-safe: one thread uses an object at a time. The operations are const: they change
// the kernel's socket, not this object.
class UnixSocket {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  enum class ReadEnd {
    kComplete,  // the writer half-closed (or closed) its side
    kTooLong,   // more than the most bytes came; reading stopped there
    kTimedOut,  // the deadline passed first
    kWoken,     // the wake descriptor became readable first
    kFailed,    // a read or wait failed; see the error
  };

  UnixSocket() = default;
  explicit UnixSocket(int fd) : fd_(fd) {}
  UnixSocket(UnixSocket&& other) noexcept;
  UnixSocket& operator=(UnixSocket&& other) noexcept;
  UnixSocket(const UnixSocket&) = delete;
  UnixSocket& operator=(const UnixSocket&) = delete;
  ~UnixSocket();

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  [[nodiscard]] int Descriptor() const { return fd_; }

  // Whether `name` fits an address: not empty, and short enough for sun_path.
  static bool IsValidName(const std::string& name);

  // Listens at `name`. A socket file at a path is replaced only when nobody answers on it (one
  // left by a process that has gone); while somebody does, nothing is touched and `busy` is
  // set. Any other kind of file is left alone. A path gets `mode` exactly (0 leaves the
  // umask's), given to the socket before it is bound and never set by path. Nullopt on failure.
  static std::optional<UnixSocket> Listen(const std::string& name, unsigned mode, bool& busy,
                                          std::string& error);
  // Whether a process accepts connections at `name` now.
  static bool Answers(const std::string& name);
  // Connects to the endpoint `name`. `missing` is set when nobody listens there (no such path,
  // or nothing accepting behind it).
  static std::optional<UnixSocket> Connect(const std::string& name, bool& missing,
                                           std::string& error);
  // Waits for a connection until `deadline` or until `wakeFd` (when not -1) is readable. Nullopt
  // with an empty error when woken or timed out.
  std::optional<UnixSocket> Accept(int wakeFd, Deadline deadline, std::string& error) const;

  // The process at the other end (user, group and process ids), as the kernel recorded it when
  // the connection was made.
  [[nodiscard]] std::optional<UiSender> Peer(std::string& error) const;
  // The user id of the process at the other end (the listener's, for a connecting socket; the
  // connecting process's, for an accepted one), as the kernel recorded it.
  [[nodiscard]] std::optional<std::uint32_t> PeerUid(std::string& error) const;

  // Writes all of `data` before `deadline`; false (with the reason) when it could not.
  bool WriteAll(std::string_view data, Deadline deadline, std::string& error) const;
  // Ends this side's writing: the reader sees the end of the message.
  bool ShutdownWrite(std::string& error) const;
  // Reads until the writer half-closes, at most `most` bytes (one more tells a longer message).
  ReadEnd ReadAll(std::size_t most, int wakeFd, Deadline deadline, std::string& text,
                  std::string& error) const;

 private:
  int fd_ = -1;
};

}  // namespace Pellux
