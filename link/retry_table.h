#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace Pellux {

// Retries left for the steps of the radio side, by key: the configuration steps and the packet
// send. Only the packet send registers a budget; a configuration step that fails finds none.
class RetryTable {
 public:
  // Keys of the steps.
  static constexpr int kAssignChannel = 0;
  static constexpr int kSearchTimeout = 1;
  static constexpr int kChannelPeriod = 2;
  static constexpr int kRadioFrequency = 3;
  static constexpr int kTransmitPower = 4;
  static constexpr int kChannelId = 5;
  static constexpr int kOpenChannel = 6;
  static constexpr int kCloseChannel = 7;
  static constexpr int kPacketSend = 8;

  // Runs the step again; what it returns is not looked at (a failed retry reports itself
  // through the module's answer or the transfer event).
  using Operation = std::function<bool()>;
  // Receives "Retrying...", "Retries exhausted" and the step's failure message.
  using Log = std::function<void(const std::string& line)>;

  explicit RetryTable(Log log) : log_(std::move(log)) {}

  // Gives step `key` a budget of `count` retries, the message to log on each failure and the
  // operation that retries it; replaces any earlier entry.
  void Register(int key, std::int32_t count, std::string failureMessage, Operation operation);
  // The step failed: logs its failure message, then retries it while budget is left (true) or
  // forgets the entry (false). A key without an entry has no budget.
  bool Consult(int key);
  // The step succeeded; its entry is no longer needed.
  void Erase(int key) { entries_.erase(key); }
  void Clear() { entries_.clear(); }

  [[nodiscard]] bool Has(int key) const { return entries_.contains(key); }
  [[nodiscard]] std::int32_t Remaining(int key) const;

 private:
  struct Entry {
    std::int32_t remaining = 0;
    std::string failureMessage;
    Operation operation;
  };

  Log log_;
  std::map<int, Entry> entries_;
};

}  // namespace Pellux
