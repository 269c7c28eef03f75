#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/dsi_serial.h"
#include "tests/support/collected_lines.h"

namespace Pellux {

// What a transport hands upward, recorded for a test: every byte and error in order, the
// threads they came on, and any call that came while the test said the transport was closed.
class RecordingReceiver final : public DSISerialCallback {
 public:
  void ProcessByte(std::uint8_t byte) override {
    std::lock_guard guard(mutex_);
    Note();
    bytes_.push_back(byte);
    changed_.notify_all();
  }
  void Error(std::uint8_t code) override {
    std::lock_guard guard(mutex_);
    Note();
    errors_.push_back(code);
    changed_.notify_all();
  }

  // From now on, any call is a breach of the contract (the transport's Close has returned).
  void ExpectSilence() { silent_.store(true); }
  void AllowCalls() { silent_.store(false); }
  [[nodiscard]] int CallsWhileSilent() const { return callsWhileSilent_.load(); }

  [[nodiscard]] std::vector<std::uint8_t> Bytes() const {
    std::lock_guard guard(mutex_);
    return bytes_;
  }
  [[nodiscard]] std::vector<std::uint8_t> Errors() const {
    std::lock_guard guard(mutex_);
    return errors_;
  }
  [[nodiscard]] std::set<std::thread::id> Threads() const {
    std::lock_guard guard(mutex_);
    return threads_;
  }
  void Clear() {
    std::lock_guard guard(mutex_);
    bytes_.clear();
    errors_.clear();
  }

  // Waits until `count` bytes came, `timeout` at most; true when they did.
  bool WaitForBytes(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return bytes_.size() >= count; });
  }
  // Waits until `count` errors with `code` came.
  bool WaitForErrors(std::uint8_t code, std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return CountLocked(code) >= count; });
  }
  [[nodiscard]] std::size_t Count(std::uint8_t code) const {
    std::lock_guard guard(mutex_);
    return CountLocked(code);
  }

 private:
  void Note() {
    threads_.insert(std::this_thread::get_id());
    if (silent_.load()) ++callsWhileSilent_;
  }
  [[nodiscard]] std::size_t CountLocked(std::uint8_t code) const {
    std::size_t count = 0;
    for (const std::uint8_t each : errors_) count += each == code ? 1 : 0;
    return count;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> errors_;
  std::set<std::thread::id> threads_;
  std::atomic<bool> silent_{false};
  std::atomic<int> callsWhileSilent_{0};
};

}  // namespace Pellux
