#include "tools/pelluxctl/status_follower.h"

#include <chrono>

#include "ui/log/local_time.h"

namespace Pellux {

void StatusFollower::Say(std::int64_t when, const std::string& line) {
  EndProgress();
  out_ << FormatLocalTime("%H:%M:%S ",
                          std::chrono::system_clock::time_point(std::chrono::seconds(when)))
       << line << "\n";
}

void StatusFollower::EndProgress() {
  if (!progressOpen_) return;
  out_ << "\n";
  progressOpen_ = false;
  // Drawn again below whatever comes next.
  progress_.clear();
}

void StatusFollower::Lost(const std::string& why) {
  if (lost_) return;
  lost_ = true;
  EndProgress();
  out_ << why << "\n" << std::flush;
}

void StatusFollower::Show(const StatusRecord& record) {
  if (lost_) {
    lost_ = false;
    Say(record.now, "the service answers again");
  }
  if (!last_) {
    if (options_.describeFirst) out_ << text_.Describe(record);
  } else {
    for (const std::string& line : text_.Changes(*last_, record)) Say(record.now, line);
  }
  last_ = record;

  const std::optional<std::string> progress = StatusText::ProgressLine(record);
  if (!progress) {
    EndProgress();
    progress_.clear();
  } else if (*progress != progress_) {
    progress_ = *progress;
    if (options_.terminal) {
      // Back to the start of the line, the new text, and the rest of the old one cleared.
      out_ << "\r" << progress_ << "\x1b[K";
      progressOpen_ = true;
    } else {
      Say(record.now, progress_);
    }
  }
  out_ << std::flush;
}

}  // namespace Pellux
