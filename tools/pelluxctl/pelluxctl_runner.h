#pragma once

#include <atomic>
#include <chrono>
#include <istream>
#include <ostream>

#include "tools/pelluxctl/pelluxctl_options.h"
#include "tools/pelluxctl/ui_connection.h"

namespace Pellux {

inline constexpr int kPelluxctlOk = 0;
inline constexpr int kPelluxctlFailed = 1;
inline constexpr int kPelluxctlUsage = 2;

// Where pelluxctl talks to its user, and when to stop a session (Ctrl-C sets it).
struct PelluxctlIo {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  const std::atomic<bool>& interrupted;
  // How long to wait for the answer to a status poll, and between the polls of a session.
  std::chrono::milliseconds answerTimeout{5000};
  std::chrono::milliseconds pollInterval{2000};
  // How often status --follow asks for the record.
  std::chrono::milliseconds followInterval{1000};
  // Standard output is a terminal: progress is redrawn in place.
  bool terminal = false;
  // How long doctor waits for the upload server's answer.
  std::chrono::milliseconds serverTimeout{3000};
};

// Sends `message` to `service`; false after telling the user on `io.err` why it could not be
// sent.
bool SendOrSay(UiConnection& connection, const std::string& message, const PelluxctlIo& io,
               const std::string& service);

// Runs one parsed command over `connection` and returns the exit status. Portable: everything
// that differs between the systems is in the connection.
int RunPelluxctl(const PelluxctlOptions& options, UiConnection& connection, const PelluxctlIo& io);

}  // namespace Pellux
