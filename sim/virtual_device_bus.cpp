#include "sim/virtual_device_bus.h"

#include <utility>

namespace Pellux {
namespace {

// A transport bound, by Init, to whichever station sits at the named position of the bus, and
// forwarding to it from then on.
class BusTransport final : public DSISerial {
 public:
  explicit BusTransport(VirtualDeviceBus& bus) : bus_(bus) {}

  bool AutoInit() override { return Init(VirtualBaseStation::kAutoInitBaud, 0); }

  bool Init(std::uint32_t baud, std::uint8_t deviceNumber) override {
    station_ = bus_.StationAt(deviceNumber);
    if (station_ == nullptr) return false;
    station_->SetCallback(callback_);
    return station_->Init(baud, station_->Options().devicePosition);
  }

  std::uint32_t GetDeviceSerialNumber() override {
    return station_ != nullptr ? station_->GetDeviceSerialNumber() : 0;
  }

  bool GetDevicePID(std::uint16_t& productId) override {
    return station_ != nullptr && station_->GetDevicePID(productId);
  }

  void SetCallback(DSISerialCallback* callback) override {
    callback_ = callback;
    if (station_ != nullptr) station_->SetCallback(callback);
  }

  bool Open() override { return station_ != nullptr && station_->Open(); }

  void Close(bool reset) override {
    if (station_ != nullptr) station_->Close(reset);
  }

  bool WriteBytes(const std::uint8_t* data, std::size_t size) override {
    return station_ != nullptr && station_->WriteBytes(data, size);
  }

  std::uint8_t GetDeviceNumber() override {
    return station_ != nullptr ? station_->GetDeviceNumber() : 0xFF;
  }

 private:
  VirtualDeviceBus& bus_;
  VirtualBaseStation* station_ = nullptr;
};

}  // namespace

void VirtualDeviceBus::Attach(VirtualBaseStation& station, std::uint16_t vendorId,
                              std::uint16_t productId) {
  std::lock_guard guard(mutex_);
  slots_.push_back({&station, vendorId, productId});
}

std::vector<BaseStationCandidate> VirtualDeviceBus::Candidates() {
  std::lock_guard guard(mutex_);
  std::vector<BaseStationCandidate> candidates;
  for (const Slot& slot : slots_) {
    if (!slot.station->IsPlugged()) continue;
    const std::string serial = std::to_string(slot.station->Options().serialNumber);
    candidates.push_back({slot.vendorId, slot.productId, serial, "virtual base station " + serial});
  }
  return candidates;
}

std::shared_ptr<DSISerial> VirtualDeviceBus::CreateTransport() {
  std::lock_guard guard(mutex_);
  ++transports_;
  return std::make_shared<BusTransport>(*this);
}

void VirtualDeviceBus::RestartDevices(std::uint16_t vendorId, std::uint16_t productId) {
  std::lock_guard guard(mutex_);
  ++restarts_;
  lastRestart_ = {vendorId, productId};
}

int VirtualDeviceBus::Restarts() const {
  std::lock_guard guard(mutex_);
  return restarts_;
}

std::pair<std::uint16_t, std::uint16_t> VirtualDeviceBus::LastRestartIds() const {
  std::lock_guard guard(mutex_);
  return lastRestart_;
}

int VirtualDeviceBus::TransportsMade() const {
  std::lock_guard guard(mutex_);
  return transports_;
}

VirtualBaseStation* VirtualDeviceBus::StationAt(std::uint8_t position) {
  std::lock_guard guard(mutex_);
  std::uint8_t index = 0;
  for (const Slot& slot : slots_) {
    if (!slot.station->IsPlugged()) continue;
    if (index == position) return slot.station;
    ++index;
  }
  return nullptr;
}

}  // namespace Pellux
