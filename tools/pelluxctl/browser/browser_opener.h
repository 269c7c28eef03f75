#pragma once

#include <string>

namespace Pellux {

// Asks the desktop to show pelluxctl's page in the user's browser, keeping its address (and
// the token in it) off every command line, which other users of the machine can read on Linux:
// there xdg-open is given a file in a folder of the user's own (mode 0700) that sends the
// browser on to the address; on Windows, where another user cannot read a process's command
// line, the shell's "open" is given the address itself. What was left for the browser goes
// when the opener does. Used on one thread.
class BrowserOpener {
 public:
  BrowserOpener() = default;
  BrowserOpener(const BrowserOpener&) = delete;
  BrowserOpener& operator=(const BrowserOpener&) = delete;
  ~BrowserOpener();

  // Returns once the desktop has been asked; false, with the failed call in `error`, when it
  // could not be (or, on Linux, xdg-open said at once that it could not).
  bool Open(const std::string& url, std::string& error);

 private:
  // The folder of the file the browser was given (Linux); empty when none.
  std::string folder_;
};

}  // namespace Pellux
