#include "tools/pelluxctl/status_text.h"

#include <cstdio>
#include <sstream>

namespace Pellux {
namespace {

constexpr int kLabelWidth = 18;

std::string Line(const std::string& label, const std::string& value) {
  std::string line = label + ":";
  if (line.size() < kLabelWidth) line.resize(kLabelWidth, ' ');
  return line + value + "\n";
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
  return text;
}

std::string Station(const StatusRecord::BaseStation& station) {
  std::string text = station.open ? "open" : "not open";
  text += ", " + Hex4(station.vendorId) + ":" + Hex4(station.productId);
  if (!station.serial.empty()) text += ", serial " + station.serial;
  if (!station.device.empty()) text += ", " + station.device;
  return text;
}

std::string Counted(std::uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string StatusText::Ago(std::int64_t now, std::int64_t then) {
  if (then == 0) return "never";
  const std::int64_t seconds = now - then;
  if (seconds < 0) return "in the future";
  if (seconds < 5) return "just now";
  return Duration(seconds) + " ago";
}

std::string StatusText::Duration(std::int64_t seconds) {
  if (seconds < 0) seconds = 0;
  constexpr std::int64_t kMinute = 60;
  constexpr std::int64_t kHour = 60 * kMinute;
  constexpr std::int64_t kDay = 24 * kHour;
  const auto two = [](std::int64_t big, const char* bigUnit, std::int64_t small,
                      const char* smallUnit) {
    std::string text = std::to_string(big) + " " + bigUnit;
    if (small != 0) text += " " + std::to_string(small) + " " + smallUnit;
    return text;
  };
  if (seconds < kMinute) return std::to_string(seconds) + " s";
  if (seconds < kHour) return two(seconds / kMinute, "min", seconds % kMinute, "s");
  if (seconds < kDay) return two(seconds / kHour, "h", seconds % kHour / kMinute, "min");
  return two(seconds / kDay, "d", seconds % kDay / kHour, "h");
}

std::optional<std::string> StatusText::ProgressLine(const StatusRecord& record) {
  if (!record.session || !record.session->own || record.session->linkedAt == 0) {
    return std::nullopt;
  }
  const StatusRecord::Session& session = *record.session;
  std::string line = "transferring: " + std::to_string(session.bytesFromTracker) +
                     " bytes from the tracker, " + std::to_string(session.bytesToTracker) +
                     " to it";
  if (session.operation != 0) {
    line += ", operation " + std::to_string(session.operation) + "/" +
            std::to_string(session.operations);
  }
  if (session.requestsPosted != 0) {
    line += ", " + Counted(session.requestsPosted, "request", "requests") + " posted";
  }
  return line;
}

std::string StatusText::FinalProgressLine(const StatusRecord::Upload& upload) {
  return "transferred: " + std::to_string(upload.bytesFromTracker) + " bytes from the tracker, " +
         std::to_string(upload.bytesToTracker) + " to it";
}

std::string StatusText::When(std::int64_t now, std::int64_t then) const {
  if (then == 0) return "never";
  return localTime_(then) + " (" + Ago(now, then) + ")";
}

std::string StatusText::Describe(const StatusRecord& record) const {
  std::string text;
  text += Line("service", "version " + record.version + ", up " +
                              Duration(record.now - record.startedAt) + " (since " +
                              localTime_(record.startedAt) + ")");
  text += Line("mode", record.mode);
  text += Line("link", record.link);
  text += Line("base station", Station(record.baseStation));
  if (!record.session) {
    text += Line("session", "none");
  } else if (!record.session->own) {
    text += Line("session", record.session->mode + ", another user's");
  } else {
    const StatusRecord::Session& session = *record.session;
    text += Line("session", session.mode + ", started " + When(record.now, session.startedAt));
    if (session.linkedAt != 0) {
      text += Line("tracker linked", When(record.now, session.linkedAt));
    }
    if (const auto progress = ProgressLine(record)) {
      text += Line("progress", progress->substr(progress->find(':') + 2));
    }
  }
  if (!record.lastUpload) {
    text += Line("last upload", "none since the service started");
  } else {
    const StatusRecord::Upload& upload = *record.lastUpload;
    std::string value = upload.result;
    if (!upload.failure.empty()) value += " (" + upload.failure + ")";
    value += ", " + When(record.now, upload.finishedAt) + ", " + upload.mode + " mode, took " +
             Duration(upload.seconds) + ", " + Counted(upload.bytes, "byte", "bytes") + ", " +
             Counted(upload.requestsPosted, "request", "requests") + " posted";
    text += Line("last upload", value);
  }
  text += Line("last error shown", record.lastError ? record.lastError->key + ", " +
                                                          When(record.now, record.lastError->at)
                                                    : std::string("none"));
  text += Line("tracker to sleep", When(record.now, record.lastSleepTime));
  text +=
      Line("activity log", record.logFile.empty() ? std::string("no file open") : record.logFile);
  text += Line("proxy", record.proxy);
  return text;
}

std::vector<std::string> StatusText::Changes(const StatusRecord& before,
                                             const StatusRecord& after) const {
  std::vector<std::string> lines;
  if (before.startedAt != after.startedAt) {
    lines.push_back("service restarted, version " + after.version);
  }
  if (before.mode != after.mode) lines.push_back("mode: " + before.mode + " -> " + after.mode);
  if (before.link != after.link) lines.push_back("link: " + before.link + " -> " + after.link);
  if (before.baseStation != after.baseStation) {
    lines.push_back("base station: " + Station(after.baseStation));
  }
  const bool sessionChanged = before.session.has_value() != after.session.has_value() ||
                              (before.session && after.session &&
                               (before.session->startedAt != after.session->startedAt ||
                                before.session->mode != after.session->mode));
  if (sessionChanged && before.session) lines.push_back("session ended");
  if (sessionChanged && after.session) {
    lines.push_back("session started: " + after.session->mode +
                    (after.session->own ? std::string() : ", another user's"));
  }
  if (before.session && after.session && !sessionChanged && before.session->linkedAt == 0 &&
      after.session->linkedAt != 0) {
    lines.push_back("tracker linked");
  }
  if (after.lastUpload && before.lastUpload != after.lastUpload) {
    const StatusRecord::Upload& upload = *after.lastUpload;
    std::string line = "upload " + upload.result;
    if (!upload.failure.empty()) line += " (" + upload.failure + ")";
    line += ": " + Counted(upload.bytes, "byte", "bytes") + " (" +
            std::to_string(upload.bytesFromTracker) + " from the tracker, " +
            std::to_string(upload.bytesToTracker) + " to it) in " + Duration(upload.seconds) +
            ", " + Counted(upload.requestsPosted, "request", "requests") + " posted";
    lines.push_back(line);
  }
  if (after.lastError && before.lastError != after.lastError) {
    lines.push_back("error shown: " + after.lastError->key);
  }
  if (before.lastSleepTime != after.lastSleepTime && after.lastSleepTime != 0) {
    lines.push_back("tracker told to sleep");
  }
  if (before.logFile != after.logFile) {
    lines.push_back("activity log: " +
                    (after.logFile.empty() ? std::string("no file open") : after.logFile));
  }
  if (before.proxy != after.proxy) lines.push_back("proxy: " + after.proxy);
  return lines;
}

}  // namespace Pellux
