#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "tools/pelluxctl/status_text.h"
#include "ui/channel/status_record.h"

namespace Pellux {

// Shows a stream of status records as they come, for `status --follow` and a session: each
// change on a line of its own, stamped with the record's local time, and while the tracker is
// linked the transfer's progress: one line redrawn in place on a terminal, else a plain line
// whenever it moves. Called from one thread.
class StatusFollower {
 public:
  struct Options {
    // Redraw the progress line in place.
    bool terminal = false;
    // Describe the whole record when the first one comes (status --follow); a session shows
    // only what changes.
    bool describeFirst = true;
  };

  StatusFollower(std::ostream& out, StatusText text, Options options)
      : out_(out), text_(std::move(text)), options_(options) {}

  void Show(const StatusRecord& record);
  // The service did not answer: said once until it answers again.
  void Lost(const std::string& why);
  // Ends a progress line being redrawn, so that other output starts on a line of its own.
  void EndProgress();

 private:
  void Say(std::int64_t when, const std::string& line);
  // Shows `line` as the progress: redrawn in place on a terminal, else a line of its own.
  void DrawProgress(std::int64_t when, const std::string& line);

  std::ostream& out_;
  const StatusText text_;
  const Options options_;
  std::optional<StatusRecord> last_;
  std::string progress_;
  bool progressOpen_ = false;
  bool lost_ = false;
};

}  // namespace Pellux
