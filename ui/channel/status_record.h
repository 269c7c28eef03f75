#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Pellux {

// What the service is doing and what it last did, as one record: the answer to a UI's status
// record request (J), written as one JSON object, and read back by pelluxctl. Times are seconds
// since 1970 (0: never), counts and sizes plain numbers. Pure functions, any thread.
struct StatusRecord {
  struct BaseStation {
    bool open = false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    // The USB serial text of the open station; empty when none is open.
    std::string serial;
    // Where the system names it: its tty's node on Linux, its product text on Windows.
    std::string device;

    bool operator==(const BaseStation&) const = default;
  };

  // The running session. Another user's session shows only that it runs and its mode.
  struct Session {
    bool own = true;
    std::string mode;
    std::int64_t startedAt = 0;
    std::int64_t linkedAt = 0;
    std::uint32_t requestsPosted = 0;
    std::uint64_t bytesFromTracker = 0;
    std::uint64_t bytesToTracker = 0;
    // The operation being run, from 1, and of how many; 0 when none runs.
    std::uint32_t operation = 0;
    std::uint32_t operations = 0;

    bool operator==(const Session&) const = default;
  };

  struct Upload {
    std::string mode;
    std::int64_t finishedAt = 0;
    std::int64_t seconds = 0;
    // Both ways, and each way.
    std::uint64_t bytes = 0;
    std::uint64_t bytesFromTracker = 0;
    std::uint64_t bytesToTracker = 0;
    std::uint32_t requestsPosted = 0;
    // kSucceeded or kFailed, and then the failure's message key.
    std::string result;
    std::string failure;

    bool operator==(const Upload&) const = default;
  };

  struct ShownError {
    std::int64_t at = 0;
    std::string key;

    bool operator==(const ShownError&) const = default;
  };

  static constexpr const char* kSucceeded = "succeeded";
  static constexpr const char* kFailed = "failed";

  std::string version;
  // The service's clock when the record was made, and when the service started.
  std::int64_t now = 0;
  std::int64_t startedAt = 0;
  std::string mode;
  // "stopped", "waiting for a base station", "searching", "linked", "transferring", "sleeping".
  std::string link;
  BaseStation baseStation;
  std::int64_t lastSleepTime = 0;
  std::optional<Session> session;
  std::optional<Upload> lastUpload;
  std::optional<ShownError> lastError;
  // The activity log's open file; empty when none is open.
  std::string logFile;
  // How the service reaches the server, without credentials: "direct", or what the proxy
  // settings name (DescribeProxy).
  std::string proxy;

  bool operator==(const StatusRecord&) const = default;
};

// The record as one JSON object on one line.
std::string EncodeStatusRecord(const StatusRecord& record);
// Reads what EncodeStatusRecord writes. Nullopt, with the reason in `why`, when the text is not
// one JSON object with every field of the right type and range; unknown fields are ignored, so
// that a newer service's record still reads.
std::optional<StatusRecord> DecodeStatusRecord(std::string_view text, std::string* why = nullptr);

}  // namespace Pellux
