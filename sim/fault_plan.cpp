#include "sim/fault_plan.h"

#include <utility>

namespace Pellux {

void FaultPlan::RefuseCommand(std::uint8_t messageId, std::uint8_t code, int times) {
  std::lock_guard<std::mutex> guard(mutex_);
  refusals_[messageId] = Refusal{code, times};
}

void FaultPlan::LoseUnits(Direction direction, int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  losses_[Index(direction)] = count;
}

void FaultPlan::DuplicateUnits(Direction direction, int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  duplicates_[Index(direction)] = count;
}

void FaultPlan::CorruptNextBurst(Direction direction, BurstCorruption corruption) {
  std::lock_guard<std::mutex> guard(mutex_);
  corruptions_[Index(direction)] = corruption;
}

void FaultPlan::FailTransfers(int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  failedTransfers_ = count;
}

void FaultPlan::SetTrackerSilent(bool silent) {
  std::lock_guard<std::mutex> guard(mutex_);
  silent_ = silent;
}

void FaultPlan::SetModuleHung(bool hung) {
  std::lock_guard<std::mutex> guard(mutex_);
  hung_ = hung;
}

void FaultPlan::SetTrackerInRange(bool inRange) {
  std::lock_guard<std::mutex> guard(mutex_);
  inRange_ = inRange;
}

void FaultPlan::ForceSearchTimeout() {
  std::lock_guard<std::mutex> guard(mutex_);
  searchTimeout_ = true;
}

void FaultPlan::SetBeaconHostId(std::optional<std::uint32_t> hostId) {
  std::lock_guard<std::mutex> guard(mutex_);
  beaconHostId_ = hostId;
}

std::optional<std::uint8_t> FaultPlan::TakeRefusal(std::uint8_t messageId) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = refusals_.find(messageId);
  if (found == refusals_.end() || !Take(found->second.times)) return std::nullopt;
  const std::uint8_t code = found->second.code;
  if (found->second.times == 0) refusals_.erase(found);
  return code;
}

bool FaultPlan::TakeLoss(Direction direction) {
  std::lock_guard<std::mutex> guard(mutex_);
  return Take(losses_[Index(direction)]);
}

bool FaultPlan::TakeDuplicate(Direction direction) {
  std::lock_guard<std::mutex> guard(mutex_);
  return Take(duplicates_[Index(direction)]);
}

std::optional<BurstCorruption> FaultPlan::TakeBurstCorruption(Direction direction) {
  std::lock_guard<std::mutex> guard(mutex_);
  return std::exchange(corruptions_[Index(direction)], std::nullopt);
}

bool FaultPlan::TakeFailedTransfer() {
  std::lock_guard<std::mutex> guard(mutex_);
  return Take(failedTransfers_);
}

bool FaultPlan::TakeSearchTimeout() {
  std::lock_guard<std::mutex> guard(mutex_);
  return std::exchange(searchTimeout_, false);
}

bool FaultPlan::TrackerSilent() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return silent_;
}

bool FaultPlan::ModuleHung() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return hung_;
}

bool FaultPlan::TrackerInRange() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return inRange_;
}

std::optional<std::uint32_t> FaultPlan::BeaconHostId() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return beaconHostId_;
}

void FaultPlan::SetTransfersSwallowed(bool swallowed) {
  std::lock_guard<std::mutex> guard(mutex_);
  swallowed_ = swallowed;
}

bool FaultPlan::TransfersSwallowed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return swallowed_;
}

bool FaultPlan::Take(int& counter) {
  if (counter <= 0) return false;
  --counter;
  return true;
}

}  // namespace Pellux
