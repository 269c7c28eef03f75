#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "ui/channel/ui_message.h"

namespace Pellux {

// What the browser page shows, and the server-sent events that tell it: the service's pages
// (only the newest is kept and served), its status lines, the status record, and whether the
// session has ended. Each change returns the one event to send to every open stream; a stream
// that opens later first gets Snapshot(). Event data is one line of JSON each:
//   event: page    data: {"number":N,"width":W,"height":H}
//   event: info    data: {"text":"..."}
//   event: status  data: the service's status record as it came
//   event: ended   data: {"text":"..."}
// Not thread-safe: the browser server holds it on its own thread.
class PageFeed {
 public:
  struct Page {
    int number = 0;
    HtmlPage page;
    // A form of this page has been sent on: a second post of it is refused.
    bool answered = false;
  };

  // How many status lines a new stream is given.
  static constexpr std::size_t kKeptLines = 50;

  std::string AddPage(HtmlPage page);
  std::string AddInfo(std::string_view line);
  // `record` is the JSON object of the J answer, sent on unchanged (the page reads it); a
  // record that is the same as the last gives no event (empty text).
  std::string SetStatus(std::string_view record);
  std::string End(std::string_view text);

  [[nodiscard]] std::string Snapshot() const;

  // The page with that number, while it is the newest.
  [[nodiscard]] Page* CurrentPage(int number);

 private:
  std::optional<Page> page_;
  int pages_ = 0;
  std::deque<std::string> lines_;
  std::string status_;
  std::optional<std::string> ended_;
};

// One server-sent event: "event: <name>\ndata: <data>\n\n". `data` must be one line.
std::string ServerSentEvent(std::string_view name, std::string_view data);

}  // namespace Pellux
