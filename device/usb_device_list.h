#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace Pellux {

// An ordered list of USB devices: bridge devices, libusb devices, or both mixed as
// their common base. Devices are immutable values once described, so a filtered list or an
// appended one shares them with the list it came from instead of copying them: each list owns
// its devices as fully as a copy would, and they live as long as any list holds them.
// Indices are device numbers for the bridge list and positions for the mixed list.
//
// Not thread-safe; a list is built by one thread and then only read.
template <typename T>
class USBDeviceList {
 public:
  using Pointer = std::shared_ptr<const T>;

  USBDeviceList() = default;

  void Add(Pointer device) {
    if (device) devices_.push_back(std::move(device));
  }

  // A list of the devices `keep` says yes to, in order, as `U` (T or a base of T).
  template <typename U = T, typename Predicate>
  [[nodiscard]] USBDeviceList<U> Filter(Predicate keep) const {
    USBDeviceList<U> kept;
    for (const Pointer& device : devices_) {
      if (keep(*device)) kept.Add(device);
    }
    return kept;
  }

  // Appends the devices of `other` (of T or of a kind of T), in order.
  template <typename U>
  void Append(const USBDeviceList<U>& other) {
    for (std::size_t i = 0; i < other.GetSize(); ++i) Add(other.Get(i));
  }

  [[nodiscard]] std::size_t GetSize() const { return devices_.size(); }
  [[nodiscard]] bool Empty() const { return devices_.empty(); }
  // The device at `index`; null past the end.
  [[nodiscard]] Pointer Get(std::size_t index) const {
    return index < devices_.size() ? devices_[index] : nullptr;
  }
  // The device at `index`, which must be below GetSize().
  const T& operator[](std::size_t index) const { return *devices_[index]; }

 private:
  std::vector<Pointer> devices_;
};

}  // namespace Pellux
