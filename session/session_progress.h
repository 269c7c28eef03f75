#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace Pellux {

// What the engine has done in the running session, how the last upload ended and the last
// error shown to a user interface, for the service's status record. A plain value: the engine
// updates it under its lock and hands out copies; times are seconds since 1970 of the engine's
// clock, given by the caller.
class SessionProgress {
 public:
  struct Session {
    std::string mode;
    std::int64_t startedAt = 0;
    // When the tracker linked; 0 until it has.
    std::int64_t linkedAt = 0;
    std::uint32_t requestsPosted = 0;
    std::uint64_t bytesFromTracker = 0;
    std::uint64_t bytesToTracker = 0;
    // The operation being run, counted from 1 within the current instruction, and of how many;
    // 0 when none runs.
    std::uint32_t operation = 0;
    std::uint32_t operations = 0;
    // The first failure of the session (a message key); empty while none.
    std::string failure;

    bool operator==(const Session&) const = default;
  };

  // A session in which a tracker linked, once it has ended.
  struct Upload {
    std::string mode;
    std::int64_t finishedAt = 0;
    // From the link to the end.
    std::int64_t seconds = 0;
    // Both ways, and each way.
    std::uint64_t bytes = 0;
    std::uint64_t bytesFromTracker = 0;
    std::uint64_t bytesToTracker = 0;
    std::uint32_t requestsPosted = 0;
    // Empty when it ended without a failure.
    std::string failure;

    bool operator==(const Upload&) const = default;
  };

  struct ShownError {
    std::int64_t at = 0;
    std::string key;

    bool operator==(const ShownError&) const = default;
  };

  // A new session; one still running ends first, as End would end it.
  void Begin(const std::string& mode, std::int64_t now);
  // Ends the running session, if any: one in which a tracker linked becomes the last upload.
  void End(std::int64_t now);

  void Linked(std::int64_t now);
  // A new instruction with `operations` remote operations.
  void InstructionStarted(std::size_t operations);
  // The operation at the front of the instruction goes out; `remaining` counts it too.
  void OperationStarted(std::size_t remaining);
  void OperationFinished();
  void RequestPosted();
  void ReceivedFromTracker(std::size_t bytes);
  void SentToTracker(std::size_t bytes);
  // A failure of the running session; the first one is kept.
  void Failed(const std::string& key);
  void ErrorShown(const std::string& key, std::int64_t now);

  [[nodiscard]] const std::optional<Session>& Running() const { return running_; }
  [[nodiscard]] const std::optional<Upload>& LastUpload() const { return lastUpload_; }
  [[nodiscard]] const std::optional<ShownError>& LastError() const { return lastError_; }

 private:
  std::optional<Session> running_;
  std::optional<Upload> lastUpload_;
  std::optional<ShownError> lastError_;
};

}  // namespace Pellux
