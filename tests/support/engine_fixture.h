#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "link/radio_events.h"
#include "link/radio_link.h"
#include "session/communication_manager.h"
#include "sim/virtual_clock.h"
#include "tests/support/recording_user_interface.h"

namespace Pellux {

// The engine on a virtual clock with a recording user interface. The derived fixture gives the
// radio side: a scripted one for the session logic, the real one on a virtual station for the
// radio.
class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override { Build(); }
  // What the derived fixture's members hold (stations, buses) must outlive the engine.
  void TearDown() override { manager.reset(); }

  // A fresh engine; one at a time, as the process-wide pointer is its own.
  void Build() {
    manager.reset();
    manager = std::make_unique<CommunicationManager>(
        &ui, [this](RadioEvents& events) { return MakeRadio(events); }, clock);
  }

  // Called from Build, inside the engine's constructor.
  virtual std::unique_ptr<RadioLink> MakeRadio(RadioEvents& events) = 0;
  // What the radio side needs after each action from outside before the test looks.
  virtual void AfterAction() {}

  void Act(const std::string& action, const std::string& argument = "",
           Context context = kNoContext) {
    manager->ProcessAction(0, action, argument, false, context);
    AfterAction();
  }

  void Answer(std::uint32_t number, const std::string& text, bool failed = false,
              Context context = kNoContext) {
    manager->ProcessAction(number, "http", text, failed, context);
    AfterAction();
  }

  // Runs `work` as the radio side would: one entry under the engine's lock.
  template <typename Work>
  void Radio(Work&& work) {
    manager->RunLocked(std::forward<Work>(work));
  }

  // What every results request ends with, for a session of `mode` without a beacon type.
  static std::string Identity(const std::string& mode) {
    return "p%5flcl=en%5fUS&clientMode=" + mode +
           "&clientId=client%2d0001&clientVersion=1%2e2&os=TestOS%201%2e0";
  }

  VirtualClock clock;
  RecordingUserInterface ui;
  std::unique_ptr<CommunicationManager> manager;
};

}  // namespace Pellux
