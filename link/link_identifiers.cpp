#include "link/link_identifiers.h"

#include <chrono>

namespace Pellux {

LinkIdentifiers::LinkIdentifiers(std::uint32_t seed) : generator_(seed) {
  std::uniform_int_distribution<std::uint32_t> hostIds(0, kMaxHostId);
  hostId_ = hostIds(generator_);
}

std::uint16_t LinkIdentifiers::NextSessionDeviceNumber() {
  std::uniform_int_distribution<std::uint16_t> numbers(kMinSessionDeviceNumber,
                                                       kMaxSessionDeviceNumber);
  const std::lock_guard lock(mutex_);
  return numbers(generator_);
}

LinkIdentifiers& LinkIdentifiers::ForProcess() {
  // Hosts started in different seconds get different IDs; that is all the tracker needs.
  static LinkIdentifiers instance(
      static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count()));
  return instance;
}

}  // namespace Pellux
