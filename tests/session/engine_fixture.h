#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "session/communication_manager.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_user_interface.h"
#include "tests/support/scripted_exchange.h"
#include "tests/support/scripted_radio_link.h"

namespace Pellux {

// An engine on a virtual clock with a recording UI, a scripted radio and a scripted server.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(); }

  void Build() {
    manager = std::make_unique<CommunicationManager>(&ui, radio, exchange, clock);
    radio.Attach(manager.get());
    exchange.Attach(manager.get());
  }

  void Act(const std::string& action, const std::string& argument = "",
           Context context = kNoContext) {
    manager->ProcessAction(0, action, argument, false, context);
  }

  void Answer(std::uint32_t number, const std::string& text, bool failed = false,
              Context context = kNoContext) {
    manager->ProcessAction(number, "http", text, failed, context);
  }

  // A standard session that has linked and posted its first request.
  void StartLinkedStandardSession() {
    Act("init", "standard");
    radio.linkState = LinkState::Linked;
    manager->RunLocked([this] { exchange.SendNextCommand(); });
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
  ScriptedExchange exchange;
  std::unique_ptr<CommunicationManager> manager;
};

}  // namespace Pellux
