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
  // A transfer that was being shown has ended: its progress ends where the upload did.
  if (last_ && !progress_.empty() && record.lastUpload && record.lastUpload != last_->lastUpload) {
    DrawProgress(record.now, StatusText::FinalProgressLine(*record.lastUpload));
    EndProgress();
    progress_.clear();
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
    DrawProgress(record.now, *progress);
  }
  out_ << std::flush;
}

void StatusFollower::DrawProgress(std::int64_t when, const std::string& line) {
  if (options_.terminal) {
    // Back to the start of the line, the new text, and the rest of the old one cleared.
    out_ << "\r" << line << "\x1b[K";
    progressOpen_ = true;
  } else {
    Say(when, line);
  }
  progress_ = line;
}

}  // namespace Pellux
