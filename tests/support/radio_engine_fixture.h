#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/ant_radio.h"
#include "link/link_identifiers.h"
#include "sim/virtual_base_station.h"
#include "sim/virtual_device_bus.h"
#include "tests/support/engine_fixture.h"

namespace Pellux {

// 0, 1, 2, ... wrapping at 251, so that misplaced chunks show.
inline std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

// The engine with its real radio side, on a virtual base station with a virtual tracker, a
// recording user interface and a virtual clock.
class RadioEngineTest : public EngineFixture {
 protected:
  // The ids the engine looks for by default.
  static constexpr std::uint16_t kVendorId = 0x10C4;
  static constexpr std::uint16_t kProductId = 0x84C4;
  static constexpr std::chrono::milliseconds kChannelPeriod{125};

  static AntRadio::Timing TestTiming() {
    AntRadio::Timing timing;
    // Answers of the virtual module come at once; a missing one need not cost a second.
    timing.responseWait = std::chrono::milliseconds(200);
    return timing;
  }

  void SetUp() override {
    bus.Attach(station, kVendorId, kProductId);
    Build();
  }

  std::unique_ptr<RadioLink> MakeRadio(RadioEvents& events) override {
    auto made = std::make_unique<AntRadio>(events, ui, bus, clock, identifiers, TestTiming());
    radio = made.get();
    return made;
  }

  void AfterAction() override { Settle(); }

  // Waits until the station has delivered all it was asked to and the pump has handled it,
  // and nothing the pump did asked the station for more.
  void Settle() {
    for (int round = 0; round < 100000; ++round) {
      const std::size_t before = MessagesWritten();
      for (VirtualBaseStation* each : stations) each->Settle();
      WaitForPump();
      if (MessagesWritten() == before) return;
    }
    ADD_FAILURE() << "the radio never settled";
  }

  // Moves virtual time on one channel period at a time, so that every message period's
  // traffic is handled before the next one comes.
  void Advance(std::chrono::milliseconds duration) {
    while (duration > std::chrono::milliseconds(0)) {
      const auto step = std::min(duration, kChannelPeriod);
      clock.Advance(step);
      Settle();
      duration -= step;
    }
  }

  void WaitForPump() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (int spin = 0; !radio->IsPumpIdle(); ++spin) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the pump never came to rest";
        return;
      }
      // The pump usually needs only a moment; sleeping at once would cost far more.
      if (spin < 1000) {
        std::this_thread::yield();
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    }
  }

  [[nodiscard]] std::size_t MessagesWritten() const {
    std::size_t total = 0;
    for (const VirtualBaseStation* each : stations) total += each->HostMessageCount();
    return total;
  }

  // Ids of what the host wrote, in order.
  [[nodiscard]] std::vector<std::uint8_t> HostIds(const VirtualBaseStation& which) const {
    std::vector<std::uint8_t> ids;
    for (const AntFrame& frame : which.HostMessages()) ids.push_back(frame.id);
    return ids;
  }

  [[nodiscard]] std::size_t CountHost(const VirtualBaseStation& which, std::uint8_t id) const {
    std::size_t count = 0;
    for (const AntFrame& frame : which.HostMessages()) count += frame.id == id ? 1 : 0;
    return count;
  }

  VirtualBaseStation station{clock};
  std::vector<VirtualBaseStation*> stations{&station};
  VirtualDeviceBus bus;
  LinkIdentifiers identifiers{20261208};
  // The engine's, while it lives.
  AntRadio* radio = nullptr;
};

}  // namespace Pellux
