#pragma once

// Helpers of the named-pipe tests: unique pipe names, a UI's writes to a pipe, and a reply pipe
// that records what arrives, through the listener the UIs' ends are made of too.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/waited_texts.h"
#include "ui/channel/named_pipe_server_win.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

inline std::string UniquePipeName(const std::string& tag) {
  static int count = 0;
  return "\\\\.\\pipe\\pellux-test-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++count);
}

// Connects to the pipe as a writer, waiting for a busy one; INVALID_HANDLE_VALUE when it fails.
inline HANDLE Connect(const std::string& name) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    HANDLE pipe = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    if (GetLastError() != ERROR_PIPE_BUSY || std::chrono::steady_clock::now() > until) {
      return INVALID_HANDLE_VALUE;
    }
    WaitNamedPipeA(name.c_str(), 100);
  }
}

// Writes `text` as one message, as a UI does.
inline bool WriteMessage(const std::string& name, const std::string& text) {
  HANDLE pipe = Connect(name);
  if (pipe == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0 &&
      written == text.size();
  CloseHandle(pipe);
  return ok;
}

// A UI's reply pipe, listening from construction to destruction: one instance, as a UI has.
struct ReplyPipe {
  explicit ReplyPipe(std::string pipeName)
      : name(std::move(pipeName)),
        server(
            name, [this](const std::string& line, int level) { lines.Add(line, level); },
            NamedPipeServer::Limits{.idleTimeout = std::chrono::seconds(3),
                                    .clientTimeout = std::chrono::seconds(3),
                                    .maxMessageBytes = kMaxUiReplyBytes,
                                    .instances = 1}) {
    started = server.Start(
        [this](const UiSender& /*sender*/, const std::string& message) { messages.Add(message); });
  }

  std::string name;
  Lines lines;
  Messages messages;
  NamedPipeServer server;
  bool started = false;
};

}  // namespace Pellux
