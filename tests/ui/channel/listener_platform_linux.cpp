#include <unistd.h>

#include <filesystem>
#include <optional>

#include "tests/ui/channel/listener_platform.h"
#include "ui/channel/ui_message.h"
#include "ui/channel/unix_pipe_server_linux.h"
#include "ui/channel/unix_socket_linux.h"

namespace Pellux {
namespace {

std::chrono::steady_clock::time_point In(std::chrono::milliseconds duration) {
  return std::chrono::steady_clock::now() + duration;
}

}  // namespace

struct ListenerPlatform::State {
  std::string folder;
  std::string path;
};

ListenerPlatform::ListenerPlatform() : state_(std::make_unique<State>()) {
  std::string pattern = std::filesystem::temp_directory_path() / "pellux-listener-XXXXXX";
  state_->folder = mkdtemp(pattern.data());
  state_->path = state_->folder + "/service.sock";
}

ListenerPlatform::~ListenerPlatform() {
  std::error_code ignored;
  std::filesystem::remove_all(state_->folder, ignored);
}

std::unique_ptr<PipeServer> ListenerPlatform::MakeServer(Log log,
                                                         std::chrono::milliseconds clientTimeout) {
  return std::make_unique<UnixPipeServer>(
      state_->path, std::move(log),
      UnixPipeServer::Limits{.idleTimeout = clientTimeout, .clientTimeout = clientTimeout});
}

std::string ListenerPlatform::ReplyName() const {
  return "@ui";
}

bool ListenerPlatform::Send(const std::string& text) {
  bool missing = false;
  std::string error;
  auto socket = UnixSocket::Connect(state_->path, missing, error);
  return socket && socket->WriteAll(text, In(std::chrono::seconds(5)), error) &&
         socket->ShutdownWrite(error);
}

std::shared_ptr<void> ListenerPlatform::Run(Client client) {
  bool missing = false;
  std::string error;
  auto socket = UnixSocket::Connect(state_->path, missing, error);
  if (!socket) return nullptr;
  switch (client) {
    case Client::kOversized:
      // The listener stops reading past the cap, so this write ends in a failure or time-out.
      socket->WriteAll("F @ui " + std::string(std::size_t{1} << 20, 'x'),
                       In(std::chrono::seconds(2)), error);
      return nullptr;
    case Client::kEmpty:
      socket->ShutdownWrite(error);
      return nullptr;
    case Client::kSilent:
      return std::make_shared<UnixSocket>(std::move(*socket));
    case Client::kLeavesEarly:
      socket->WriteAll("L @ui 1", In(std::chrono::seconds(1)), error);
      return nullptr;  // closed without a half-close first
  }
  return nullptr;
}

ListenerPlatform::Outcome ListenerPlatform::Expected(
    Client client, std::chrono::milliseconds clientTimeout) const {
  const std::string uid = std::to_string(geteuid());
  switch (client) {
    case Client::kOversized:
      return {"7 UI: Dropping a message of more than 65536 bytes from uid " + uid, ""};
    case Client::kEmpty:
      return {"7 UI: Ignoring a connection from uid " + uid + " that sent nothing", ""};
    case Client::kSilent:
      return {"7 UI: Giving up on a client (uid " + uid + ") that sent nothing more within " +
                  std::to_string(clientTimeout.count()) + " ms (0 bytes read)",
              ""};
    case Client::kLeavesEarly:
      // A vanished client's bytes are all there is to go by: the service pipe judges them.
      return {"", "L @ui 1"};
  }
  return {};
}

bool ListenerPlatform::AddressIsGone() const {
  return access(state_->path.c_str(), F_OK) != 0;
}

}  // namespace Pellux
