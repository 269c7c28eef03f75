#include "link/retry_table.h"

#include <utility>

namespace Pellux {

void RetryTable::Register(int key, std::int32_t count, std::string failureMessage,
                          Operation operation) {
  entries_[key] = Entry{count, std::move(failureMessage), std::move(operation)};
}

bool RetryTable::Consult(int key) {
  // Looking a key up makes an empty entry, as a step without a budget is one with none left.
  Entry& entry = entries_[key];
  if (!entry.failureMessage.empty()) log_(entry.failureMessage);
  if (entry.remaining > 0) {
    --entry.remaining;
    log_("Retrying...");
    // The operation may register the key afresh; run a copy so the entry may change under it.
    const Operation retry = entry.operation;
    if (retry) retry();
    return true;
  }
  entries_.erase(key);
  log_("Retries exhausted");
  return false;
}

std::int32_t RetryTable::Remaining(int key) const {
  const auto found = entries_.find(key);
  return found == entries_.end() ? 0 : found->second.remaining;
}

}  // namespace Pellux
