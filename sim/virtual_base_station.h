#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "device/dsi_serial.h"
#include "sim/ant_channel.h"
#include "sim/ant_frame.h"
#include "sim/ant_frame_parser.h"
#include "sim/fault_plan.h"
#include "sim/virtual_ant_module.h"
#include "sim/virtual_tracker.h"

namespace Pellux {

struct BaseStationOptions {
  std::uint32_t serialNumber = 4021337;
  // Where the station sits in the device list; Init must select this position.
  std::uint8_t devicePosition = 0;
  std::uint16_t productId = 0x1008;
  std::string productText = "ANT USB Stick";
  std::size_t channelCount = 8;
  // How often an unplugged device is reported unreadable again while the host keeps it open.
  std::chrono::milliseconds pollInterval{1000};
  TrackerOptions tracker;
};

// A USB base station with a tracker behind it, for tests: a serial transport whose far end is
// a virtual ANT module (VirtualAntModule) and, over the air, a virtual tracker
// (VirtualTracker). Its time is the given clock's: message periods, sleeps and error polls run
// on that clock's timers, so a VirtualClock drives the whole radio.
//
// Threads: Open starts the station's own event loop thread; every byte and every error reaches
// the callback on that thread and nowhere else, never while the station's lock is held. A
// VirtualClock fires the station's timers on that thread inside Advance, and the bytes of a
// message period have reached the callback when Advance returns. Answers to the host's messages
// are posted to the loop when WriteBytes runs; Settle waits for them. Every public method is
// thread-safe; none may be called from the callback except WriteBytes.
class VirtualBaseStation final : public DSISerial {
 public:
  static constexpr std::uint32_t kAutoInitBaud = 50000;

  explicit VirtualBaseStation(Clock& clock, BaseStationOptions options = {});
  ~VirtualBaseStation() override;

  // --- DSISerial ---

  // Selects the station's own position, unless it is unplugged.
  bool AutoInit() override;
  bool Init(std::uint32_t baud, std::uint8_t deviceNumber) override;
  std::uint32_t GetDeviceSerialNumber() override;
  bool GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                        std::string& serial) override;
  bool GetDevicePID(std::uint16_t& productId) override;
  void SetCallback(DSISerialCallback* callback) override;
  // Fails without a callback, when unplugged, when the selected position is not the station's
  // or when already open. The module starts powered up afresh; the tracker keeps its state.
  bool Open() override;
  // Stops the event loop: no callback runs once this returns. `reset` changes nothing. Must
  // not race a VirtualClock::Advance on another thread that may fire the station's timers.
  void Close(bool reset) override;
  // Takes any run of bytes: several frames, or a frame split over calls. False when closed or
  // unplugged (an unplugged device also reports Error(2)).
  bool WriteBytes(const std::uint8_t* data, std::size_t size) override;
  std::uint8_t GetDeviceNumber() override;

  // --- Scripting ---

  // Faults for the module and the tracker; may be changed at any time.
  FaultPlan& Faults() { return faults_; }
  // Runs `action` on the tracker under the station's lock (scripting answers, for example). It
  // must not call back into the station.
  void WithTracker(const std::function<void(VirtualTracker&)>& action);
  // Pulls the plug: the radio stops and every write fails. With Error(1) (device unreadable)
  // the error is reported now and again every poll interval until Close; with Error(3) (read
  // failed) it is reported once and nothing reaches the callback after it.
  void Unplug(std::uint8_t errorCode);
  // Sends `bytes` to the host as they are, as a module with a glitching line would: a frame
  // with a wrong checksum, a stray byte. Does nothing while closed.
  void InjectBytes(std::vector<std::uint8_t> bytes);
  // Sends one well-formed message to the host, unasked.
  void InjectMessage(const AntFrame& frame);
  // Plugs it back in: the next Open succeeds again (the open transport stays dead).
  void Replug();

  // --- Inspection ---

  // Every message the host wrote, in order, as parsed.
  [[nodiscard]] std::vector<AntFrame> HostMessages() const;
  [[nodiscard]] std::size_t HostMessageCount() const;
  // Frames the module dropped for a bad length or checksum, as far as they were read.
  [[nodiscard]] std::vector<std::vector<std::uint8_t>> RejectedFrames() const;
  [[nodiscard]] TrackerSnapshot Tracker() const;
  [[nodiscard]] AntChannel Channel(std::uint8_t channel) const;
  [[nodiscard]] std::uint8_t TransmitPower() const;
  [[nodiscard]] bool IsOpen() const;
  [[nodiscard]] bool IsPlugged() const;
  [[nodiscard]] const BaseStationOptions& Options() const { return options_; }
  [[nodiscard]] std::uint32_t Baud() const;
  // Waits until everything the loop was asked to deliver so far has reached the callback.
  // Returns at once when closed; must not be called from the callback.
  void Settle();

 private:
  using TimePoint = std::chrono::system_clock::time_point;
  // The message period a channel's timer waits for.
  struct ArmedSlot {
    std::uint64_t epoch = 0;
    TimePoint at{};
    bool operator==(const ArmedSlot&) const = default;
  };

  // Lock held: hands `frames` (then `error`, if not 0) to the loop thread for delivery.
  void Post(std::vector<AntFrame> frames, std::uint8_t error = 0);
  // Loop thread, lock not held.
  void Deliver(const std::vector<AntFrame>& frames, std::uint8_t error);
  // Lock held: arms or cancels each channel's timer for its next message period.
  void Reschedule(TimePoint now);
  void OnSlot(std::uint8_t channel, std::uint64_t epoch);
  // Lock held.
  void ArmPoll();
  void OnPoll();
  // Lock held, loop stopped or stopping.
  void StopTimers();

  Clock& clock_;
  const BaseStationOptions options_;
  FaultPlan faults_;

  // Serialises Open, Close and Settle, which start, stop and wait for the loop.
  std::mutex lifecycle_;
  mutable std::mutex mutex_;
  VirtualTracker tracker_;
  VirtualAntModule module_;
  AntFrameParser parser_;
  std::vector<AntFrame> hostMessages_;
  std::vector<std::vector<std::uint8_t>> rejected_;
  std::uint32_t baud_ = 0;
  std::uint8_t deviceNumber_ = 0xFF;
  bool open_ = false;
  bool unplugged_ = false;
  // The open transport lost its device; it stays dead until closed.
  bool deviceLost_ = false;
  // Error(3) went out: the receive side has stopped.
  bool readStopped_ = false;
  std::vector<std::unique_ptr<OneShotTimer>> slotTimers_;
  std::vector<std::optional<ArmedSlot>> armedFor_;
  std::unique_ptr<OneShotTimer> pollTimer_;

  boost::asio::io_context io_;
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  std::thread loop_;
};

}  // namespace Pellux
