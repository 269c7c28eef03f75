#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "link/packet.h"
#include "link/packet_bytes.h"
#include "session/communication_manager.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_user_interface.h"
#include "tests/support/scripted_radio_link.h"

namespace Pellux {

// An engine on a virtual clock with a recording UI, a scripted radio and a scripted server.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(); }

  void Build() {
    manager.reset();  // one engine at a time: the process-wide pointer is its own
    manager = std::make_unique<CommunicationManager>(&ui, radio, clock);
    radio.Attach(manager.get());
  }

  void Act(const std::string& action, const std::string& argument = "",
           Context context = kNoContext) {
    manager->ProcessAction(0, action, argument, false, context);
  }

  void Answer(std::uint32_t number, const std::string& text, bool failed = false,
              Context context = kNoContext) {
    manager->ProcessAction(number, "http", text, failed, context);
  }

  // Runs `work` as the radio side would: one entry under the engine's lock.
  template <typename Work>
  void Radio(Work&& work) {
    manager->RunLocked(std::forward<Work>(work));
  }

  // A standard session that has linked and posted its first request.
  void StartLinkedStandardSession() {
    Act("init", "standard");
    radio.linkState = LinkState::Linked;
    manager->RunLocked([this] { manager->SendNextCommand(); });
  }

  // What every results request ends with, for a session of `mode` without a beacon type.
  static std::string Identity(const std::string& mode) {
    return "p%5flcl=en%5fUS&clientMode=" + mode +
           "&clientId=client%2d0001&clientVersion=1%2e2&os=TestOS%201%2e0";
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
  const std::string pipeA = "\\\\.\\pipe\\A";
  const std::string pipeB = "\\\\.\\pipe\\B";
  const Context contextA = &pipeA;
  const Context contextB = &pipeB;

  VirtualClock clock;
  RecordingUserInterface ui;
  ScriptedRadioLink radio;
  std::unique_ptr<CommunicationManager> manager;
};

}  // namespace Pellux
