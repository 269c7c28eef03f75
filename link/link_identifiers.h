#pragma once

#include <cstdint>
#include <mutex>
#include <random>

namespace Pellux {

// The numbers that tell this host and each of its links apart on the air. One generator is
// seeded once and makes them all: the host ID is its first draw and stays fixed for the life of
// the object; every link request then draws a fresh session device number from it.
// Thread-safe.
class LinkIdentifiers {
 public:
  static constexpr std::uint32_t kMaxHostId = 0x7FFFFFFF;
  static constexpr std::uint16_t kMinSessionDeviceNumber = 1;
  // Clear of the 0xFFxx numbers, among them 0xFFFF and 0xFFFE that a beacon search uses.
  static constexpr std::uint16_t kMaxSessionDeviceNumber = 0xFEFF;

  // The same seed gives the same host ID and the same run of session device numbers.
  explicit LinkIdentifiers(std::uint32_t seed);
  LinkIdentifiers(const LinkIdentifiers&) = delete;
  LinkIdentifiers& operator=(const LinkIdentifiers&) = delete;

  // From 0 to kMaxHostId.
  [[nodiscard]] std::uint32_t HostId() const { return hostId_; }
  // From kMinSessionDeviceNumber to kMaxSessionDeviceNumber; a new one on each call.
  std::uint16_t NextSessionDeviceNumber();

  // The instance of this process, seeded with the current time in seconds on first use.
  static LinkIdentifiers& ForProcess();

 private:
  std::mutex mutex_;
  std::mt19937 generator_;
  std::uint32_t hostId_ = 0;
};

}  // namespace Pellux
