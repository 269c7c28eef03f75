#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ui/channel/pipe_server.h"

namespace Pellux {

// This platform's listener of the UI channel and the clients that talk to it, for the one
// contract suite that runs against both: a Unix socket in a fresh folder on Linux, a named pipe
// under Wine. What a platform does differently with a hostile client is said here too.
class ListenerPlatform {
 public:
  using Log = std::function<void(const std::string& line, int level)>;

  // The hostile clients of the suite.
  enum class Client {
    kOversized,    // writes 1 MiB
    kEmpty,        // one message of no bytes
    kSilent,       // connects and writes nothing
    kLeavesEarly,  // writes a part of a message, or nothing, and goes without ending it
  };
  // What the listener makes of a client: the start of the one line it logs (empty: none), and
  // what it hands on (empty: nothing).
  struct Outcome {
    std::string linePrefix;
    std::string handedOn;
  };

  ListenerPlatform();
  ListenerPlatform(const ListenerPlatform&) = delete;
  ListenerPlatform& operator=(const ListenerPlatform&) = delete;
  ~ListenerPlatform();

  // A listener at this platform's address, giving up on a silent client after `clientTimeout`.
  std::unique_ptr<PipeServer> MakeServer(Log log, std::chrono::milliseconds clientTimeout);
  // A UI's reply name, well formed for this platform.
  [[nodiscard]] std::string ReplyName() const;
  // Writes `text` as one whole message, as a UI does; false when it could not.
  bool Send(const std::string& text);
  // Runs `client`; what it returns stays open until the next good message has been served.
  std::shared_ptr<void> Run(Client client);
  [[nodiscard]] Outcome Expected(Client client, std::chrono::milliseconds clientTimeout) const;
  // True when nobody can connect to the address any more.
  [[nodiscard]] bool AddressIsGone() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace Pellux
