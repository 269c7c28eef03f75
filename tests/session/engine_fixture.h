#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/packet.h"
#include "link/packet_bytes.h"
#include "tests/support/engine_fixture.h"
#include "tests/support/scripted_radio_link.h"

namespace Pellux {

// An engine with a scripted radio side, and a server played by the test.
class EngineTest : public EngineFixture {
 protected:
  std::unique_ptr<RadioLink> MakeRadio(RadioEvents& events) override {
    radioCalls = std::make_shared<ScriptedRadioCalls>();
    auto made = std::make_unique<ScriptedRadioLink>(events, radioCalls);
    radio = made.get();
    return made;
  }

  // A standard session that has linked and posted its first request.
  void StartLinkedStandardSession() {
    Act("init", "standard");
    radio->linkState = LinkState::Linked;
    manager->RunLocked([this] { manager->SendNextCommand(); });
  }

  // An operation whose command header is 0x41 followed by `tag`.
  static std::shared_ptr<Command> Operation(std::uint8_t tag, std::int32_t retries = 3) {
    auto command = std::make_shared<Command>();
    command->retries = retries;
    command->packet =
        std::make_shared<CommandPacket>(LogicalPacket(PacketHeader{0x41, tag, 0, 0, 0, 0, 0}));
    return command;
  }

  static ServerResponse Instruction(const std::string& action, const std::string& host = "srv") {
    ServerResponse response;
    response.action = action;
    response.host = host;
    response.port = 80;
    response.path = "/next";
    return response;
  }

  // Two distinct UI clients, as the pipe bridge would intern their reply channel names.
  const ReplyEndpoint pipeA{"\\\\.\\pipe\\A", UiSender::FromUnixCredentials(1000, 1000, 1)};
  const ReplyEndpoint pipeB{"\\\\.\\pipe\\B", UiSender::FromUnixCredentials(1001, 1001, 2)};
  const Context contextA = &pipeA;
  const Context contextB = &pipeB;

  // The engine's, while it lives; what it was asked outlives it.
  ScriptedRadioLink* radio = nullptr;
  std::shared_ptr<ScriptedRadioCalls> radioCalls;
};

}  // namespace Pellux
