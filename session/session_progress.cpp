#include "session/session_progress.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace Pellux {
namespace {

std::uint32_t Clamped(std::size_t count) {
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(count, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

void SessionProgress::Begin(const std::string& mode, std::int64_t now) {
  End(now);
  Session session;
  session.mode = mode;
  session.startedAt = now;
  running_ = std::move(session);
}

void SessionProgress::End(std::int64_t now) {
  if (!running_) return;
  if (running_->linkedAt != 0) {
    Upload upload;
    upload.mode = running_->mode;
    upload.finishedAt = now;
    upload.seconds = std::max<std::int64_t>(0, now - running_->linkedAt);
    upload.bytes = running_->bytesFromTracker + running_->bytesToTracker;
    upload.bytesFromTracker = running_->bytesFromTracker;
    upload.bytesToTracker = running_->bytesToTracker;
    upload.requestsPosted = running_->requestsPosted;
    upload.failure = running_->failure;
    lastUpload_ = std::move(upload);
  }
  running_.reset();
}

void SessionProgress::Linked(std::int64_t now) {
  if (running_ && running_->linkedAt == 0) running_->linkedAt = now;
}

void SessionProgress::InstructionStarted(std::size_t operations) {
  if (!running_) return;
  running_->operations = Clamped(operations);
  running_->operation = 0;
}

void SessionProgress::OperationStarted(std::size_t remaining) {
  if (!running_) return;
  const std::uint32_t left = Clamped(remaining);
  // An instruction's operations only ever leave from the front.
  running_->operations = std::max(running_->operations, left);
  running_->operation = running_->operations - left + 1;
}

void SessionProgress::OperationFinished() {
  if (running_) running_->operation = 0;
}

void SessionProgress::RequestPosted() {
  if (running_ && running_->requestsPosted < std::numeric_limits<std::uint32_t>::max()) {
    ++running_->requestsPosted;
  }
}

void SessionProgress::ReceivedFromTracker(std::size_t bytes) {
  if (running_) running_->bytesFromTracker += bytes;
}

void SessionProgress::SentToTracker(std::size_t bytes) {
  if (running_) running_->bytesToTracker += bytes;
}

void SessionProgress::Failed(const std::string& key) {
  if (running_ && running_->failure.empty()) running_->failure = key;
}

void SessionProgress::ErrorShown(const std::string& key, std::int64_t now) {
  lastError_ = ShownError{now, key};
}

}  // namespace Pellux
