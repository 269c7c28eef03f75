#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tools/pelluxctl/browser/page_presence.h"
#include "ui/channel/ui_message.h"

namespace Pellux {

// What the browser page asks for, reported by BrowserUiServer on its own thread, one call at a
// time. The calls must not block for long: the server serves nothing else meanwhile.
class BrowserUiRequests {
 public:
  virtual ~BrowserUiRequests() = default;
  // A form of page `page` was submitted in the frame; `formData` is its fields as the service's
  // form message takes them (EncodeFormFields). False when it cannot be sent on (too long for a
  // message): the page is told so and may be answered again.
  virtual bool OnFormPosted(int page, std::string formData) = 0;
  // The page's Finish button.
  virtual void OnFinishPressed() = 0;
  // A line for the user: a request refused and why (already made printable), or a failed call
  // of the system's (SystemCallFailure).
  virtual void OnProblem(const std::string& line) = 0;
};

// pelluxctl's own small HTTP server for the browser page of a UI session: bound to 127.0.0.1
// on a port the system picks, serving the page compiled into pelluxctl, the service's pages in
// its frame, the page's event stream, and taking its form posts and Finish. Every request
// passes RequestGuard first (403 otherwise). One thread of its own (Boost.Asio); the Show calls
// may come from any thread and are handed to it. Destroying the server closes every
// connection and joins the thread.
class BrowserUiServer {
 public:
  // How long the page may be without an event stream (a reload) before it counts as closed.
  static constexpr std::chrono::seconds kReloadGrace{5};

  virtual ~BrowserUiServer() = default;

  // Listens on 127.0.0.1 and a free port, for requests that carry `token`. Null, with the
  // failed call in `error`, when it cannot.
  static std::unique_ptr<BrowserUiServer> Start(std::string token, BrowserUiRequests& requests,
                                                std::string& error);

  // The page's address, token included.
  [[nodiscard]] virtual std::string Url() const = 0;

  virtual void ShowPage(HtmlPage page) = 0;
  virtual void ShowInfo(std::string line) = 0;
  // The JSON object of the service's status record.
  virtual void ShowStatus(std::string record) = 0;
  // The session is over: the page says `text` and stops listening.
  virtual void ShowEnded(std::string text) = 0;

  // Whether the page is open in a browser, as of `now`.
  [[nodiscard]] virtual PagePresence::State Presence(PagePresence::TimePoint now) const = 0;
};

}  // namespace Pellux
