#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/channel/status_record.h"

namespace Pellux {

// The status record for a person: times as local time and how long ago (measured against the
// record's own "now", so that a slow answer does not skew it), sizes in bytes. Pure functions
// over a local-time formatter, any thread.
class StatusText {
 public:
  // Seconds since 1970 to a local date and time ("%Y-%m-%d %H:%M:%S").
  using LocalTime = std::function<std::string(std::int64_t seconds)>;

  explicit StatusText(LocalTime localTime) : localTime_(std::move(localTime)) {}

  // Every field, one aligned line each, ending with a line end.
  [[nodiscard]] std::string Describe(const StatusRecord& record) const;
  // What changed from `before` to `after`, one line each, without line ends: the mode, the
  // link, the base station, a session starting or ending, a new last upload or error, the log
  // file, the proxy. The progress of a transfer is not a change (ProgressLine).
  [[nodiscard]] std::vector<std::string> Changes(const StatusRecord& before,
                                                 const StatusRecord& after) const;
  // "2 min ago", "just now", ... from `then` to `now`; "never" for 0.
  [[nodiscard]] static std::string Ago(std::int64_t now, std::int64_t then);
  // "12 s", "3 min 5 s", "2 h 1 min", "4 d 3 h".
  [[nodiscard]] static std::string Duration(std::int64_t seconds);
  // The progress of the session's transfer ("transferring: 1234 bytes from the tracker, 56 to
  // it, operation 2/3"), once the tracker has linked; nullopt otherwise.
  [[nodiscard]] static std::optional<std::string> ProgressLine(const StatusRecord& record);
  // Where the progress of `upload` ended ("transferred: 2543 bytes from the tracker, 526 to it").
  [[nodiscard]] static std::string FinalProgressLine(const StatusRecord::Upload& upload);

 private:
  [[nodiscard]] std::string When(std::int64_t now, std::int64_t then) const;

  LocalTime localTime_;
};

}  // namespace Pellux
