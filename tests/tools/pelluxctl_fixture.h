#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "sim/memory_settings_store.h"
#include "sim/virtual_clock.h"
#include "tests/support/locked_text.h"
#include "tests/support/no_exchange.h"
#include "tests/support/recording_session_control.h"
#include "tests/support/ui_channel_platform.h"
#include "tools/pelluxctl/pelluxctl_runner.h"
#include "ui/channel/service_pipe.h"

namespace Pellux {

// pelluxctl against the service's real UI channel of this platform (the listener, the service
// pipe and the service's user interface), with a recording engine behind them.
class PelluxctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui = platform.MakeInterface(store, pool, nullptr, clock);
    pipe = std::make_unique<ServicePipe>(engine, *ui, clock, platform.MakeListener());
    ASSERT_TRUE(pipe->Start());
    options.service = platform.ServiceAddress();
    Connect(reply);
  }
  void TearDown() override {
    connection.reset();
    pipe.reset();
    ui.reset();
  }

  // pelluxctl's connection to `service` with the reply endpoint `replyName`.
  void Connect(const std::string& replyName, const std::string& service = "") {
    std::string error;
    connection.reset();
    connection = UiConnection::Open(service.empty() ? options.service : service, replyName, error);
    ASSERT_NE(connection, nullptr) << error;
  }

  int Run(std::chrono::milliseconds answerTimeout = std::chrono::milliseconds(2000)) {
    const PelluxctlIo io{out, err, in, interrupted, answerTimeout, std::chrono::milliseconds(200)};
    return RunPelluxctl(options, *connection, io);
  }

  // Waits until `done` holds; false after five seconds.
  template <typename Done>
  static bool Eventually(Done done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // The value of the line of `label` in status's output; empty when there is none.
  static std::string StatusField(const std::string& text, const std::string& label) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind(label + ":", 0) != 0) continue;
      const std::size_t value = line.find_first_not_of(' ', label.size() + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
    return {};
  }
  bool WaitForActions(std::size_t count) {
    return Eventually([&] { return engine.Actions().size() >= count; });
  }

  UiChannelPlatform platform{"pelluxctl"};
  const std::string reply = platform.ReplyName("reply");
  MemorySettingsStore store;
  VirtualClock clock;
  NoExchange exchange;
  NetworkWorkerPool pool{exchange};
  RecordingSessionControl engine;
  std::unique_ptr<ServiceUserInterface> ui;
  std::unique_ptr<ServicePipe> pipe;
  std::unique_ptr<UiConnection> connection;
  PelluxctlOptions options;
  LockedText outText;
  std::ostream out{&outText};
  std::ostringstream err;
  std::istringstream in;
  std::atomic<bool> interrupted{false};
};

}  // namespace Pellux
