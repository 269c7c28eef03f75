#pragma once

// The one extra export of each stand-in bridge library, through which a test configures it and
// reads its state:
//
//   DWORD WINAPI PelluxStandIn_Control(const char* request, char* reply, DWORD replySize);
//
// `request` is a JSON object with a "command"; the reply is a JSON object with "ok" and what
// the command reports, written into `reply` as far as it fits (always terminated when
// replySize > 0). Returns the reply's whole length without the terminator. The command
// "lastReply" gives the previous reply again without running anything, for a caller whose
// buffer was too small.

#include <windows.h>

#include <cstring>
#include <string>

namespace Pellux::StandIn {

inline constexpr const char* kControlExport = "PelluxStandIn_Control";
using ControlFunction = DWORD(WINAPI*)(const char* request, char* reply, DWORD replySize);

// Copies `text` into the caller's reply buffer and returns its whole length.
inline DWORD WriteReply(const std::string& text, char* reply, DWORD replySize) {
  if (reply != nullptr && replySize > 0) {
    const std::size_t copied = text.size() < replySize ? text.size() : replySize - 1;
    std::memcpy(reply, text.data(), copied);
    reply[copied] = '\0';
  }
  return static_cast<DWORD>(text.size());
}

// Calls a Control export and returns the whole reply (the command runs once).
inline std::string CallControl(ControlFunction control, const std::string& request) {
  std::string reply(4096, '\0');
  DWORD length = control(request.c_str(), reply.data(), static_cast<DWORD>(reply.size()));
  if (length >= reply.size()) {
    reply.assign(static_cast<std::size_t>(length) + 1, '\0');
    length = control(R"({"command":"lastReply"})", reply.data(), static_cast<DWORD>(reply.size()));
  }
  reply.resize(length < reply.size() ? length : reply.size() - 1);
  return reply;
}

}  // namespace Pellux::StandIn
