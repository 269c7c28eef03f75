#include <windows.h>

#include <thread>

#include "tests/ui/channel/listener_platform.h"
#include "tests/ui/channel/named_pipe_test_support_win.h"
#include "ui/channel/named_pipe_server_win.h"
#include "ui/channel/pipe_client_sender_win.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

struct ListenerPlatform::State {
  std::string name = UniquePipeName("listener");
};

ListenerPlatform::ListenerPlatform() : state_(std::make_unique<State>()) {}

ListenerPlatform::~ListenerPlatform() = default;

std::unique_ptr<PipeServer> ListenerPlatform::MakeServer(Log log,
                                                         std::chrono::milliseconds clientTimeout) {
  return std::make_unique<NamedPipeServer>(
      state_->name, std::move(log),
      NamedPipeServer::Limits{.idleTimeout = clientTimeout, .clientTimeout = clientTimeout});
}

std::string ListenerPlatform::ReplyName() const {
  return "\\\\.\\pipe\\ui";
}

bool ListenerPlatform::Send(const std::string& text) {
  return WriteMessage(state_->name, text);
}

std::shared_ptr<void> ListenerPlatform::Run(Client client) {
  switch (client) {
    case Client::kOversized:
      // The listener stops reading past the cap, so this write ends in a failure; it blocks
      // until then, so it runs on a thread of its own.
      std::thread([name = state_->name] {
        WriteMessage(name, "F x " + std::string(std::size_t{1} << 20, 'x'));
      }).detach();
      return nullptr;
    case Client::kEmpty:
      WriteMessage(state_->name, "");
      return nullptr;
    case Client::kSilent: {
      const HANDLE pipe = Connect(state_->name);
      if (pipe == INVALID_HANDLE_VALUE) return nullptr;
      return std::shared_ptr<void>(pipe, [](HANDLE handle) { CloseHandle(handle); });
    }
    case Client::kLeavesEarly:
      // A message is written whole or not at all: a client leaves before its first one.
      CloseHandle(Connect(state_->name));
      return nullptr;
  }
  return nullptr;
}

ListenerPlatform::Outcome ListenerPlatform::Expected(
    Client client, std::chrono::milliseconds clientTimeout) const {
  std::string error;
  const auto me = ProcessSender(GetCurrentProcessId(), error);
  const std::string sid = me ? me->user : error;
  switch (client) {
    case Client::kOversized:
      return {"7 UI: Dropping a message of more than 65536 bytes from " + sid, ""};
    case Client::kEmpty:
      return {"7 UI: Ignoring a connection from " + sid + " that sent nothing", ""};
    case Client::kSilent:
      return {"7 UI: Giving up on a client (" + sid + ") that sent nothing more within " +
                  std::to_string(clientTimeout.count()) + " ms (0 bytes read)",
              ""};
    case Client::kLeavesEarly:
      return {"6 UI: Reading a message from " + sid + " failed: ReadFile(" + state_->name +
                  ") failed: error 109",
              ""};
  }
  return {};
}

bool ListenerPlatform::AddressIsGone() const {
  const HANDLE pipe =
      CreateFileA(state_->name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe != INVALID_HANDLE_VALUE) {
    CloseHandle(pipe);
    return false;
  }
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace Pellux
