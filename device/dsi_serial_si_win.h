#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/clock.h"
#include "device/dsi_serial.h"
#include "device/usb_device_handle_si_win.h"

namespace Pellux {

// The serial transport over a bridge device: device selection, the open handle and
// the read thread that hands every received byte to the callback.
//
// Threads: the owner calls AutoInit, Init, SetCallback, Open and Close (never from the
// callback); WriteBytes may come from any thread. The read thread is the only caller of the
// handle's Read and of the callback's ProcessByte and Error(1)/Error(3).
//
// The thread-stop rule is the handle's (see USBDeviceHandleSI): Close waits up to 3000 ms
// for the read thread and never terminates it. An abandoned read thread owns its share of its
// state and of the handle, and is barred from the callback before Close returns (Close waits
// only for a callback already running, which the framer keeps short), so no callback runs
// once Close has returned.
class DSISerialSI final : public DSISerial {
 public:
  static constexpr std::uint32_t kAutoInitBaud = 50000;
  static constexpr std::uint32_t kReadTimeoutMs = 1000;
  // The pause between two Error(1) reports while the handle stays closed.
  static constexpr std::chrono::milliseconds kUnreadablePause{1000};
  static constexpr std::chrono::milliseconds kThreadStopWait{3000};
  static constexpr std::chrono::milliseconds kResetSleep{1750};

  // Power-cycles the devices an instance-id pattern selects.
  using Restarter = std::function<void(const std::string& pattern)>;
  // The pattern AutoInit restarts when it finds no device.
  static constexpr const char* kAutoInitRestartPattern = "@USB\\VID_0FCF&PID_1004\\*";

  // `clock` takes the reset sleeps; `restart` the device restart (SetupAPI by default).
  explicit DSISerialSI(Clock& clock = SystemClock::Instance(), Restarter restart = {});
  ~DSISerialSI() override;

  // Closes, then selects the first bridge device whose product text is unreadable or begins
  // like "ANT USB Stick" and that opens (at baud 0), at 50000 baud. Without one, closes again,
  // restarts "@USB\VID_0FCF&PID_1004\*" devices and returns false.
  bool AutoInit() override;
  bool Init(std::uint32_t baud, std::uint8_t deviceNumber) override;
  std::uint32_t GetDeviceSerialNumber() override;
  bool GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                        std::string& serial) override;
  bool GetDevicePID(std::uint16_t& productId) override;
  // Fails without a callback, when already open, when the selected number is not below the
  // bridge list's length, or when the device cannot be opened.
  bool Open() override;
  // Stops the read thread, closes the handle with the same reset flag, and with `reset`
  // sleeps 1750 ms more (3500 ms in all when a handle was open).
  void Close(bool reset) override;
  // False when not open or `data` is null. A failed write also reports Error(2), on the read
  // thread like every callback.
  bool WriteBytes(const std::uint8_t* data, std::size_t size) override;
  std::uint8_t GetDeviceNumber() override;

  // Whether the last Close left its read thread behind.
  [[nodiscard]] bool ReadThreadAbandoned() const { return abandoned_.load(); }
  // Read threads of every transport that have not ended yet, abandoned ones included.
  static int RunningReadThreads();

 private:
  struct ReadState;

  static void ReadLoop(const std::shared_ptr<ReadState>& state);
  void StopReadThread();
  [[nodiscard]] std::shared_ptr<USBDeviceHandleSI> OpenHandle() const;

  Clock& clock_;
  Restarter restart_;
  // Serialises Open and Close (one thread mutex).
  std::mutex lifecycle_;
  // Guards handle_ and read_ for WriteBytes and the device queries.
  mutable std::mutex handleMutex_;
  std::shared_ptr<USBDeviceHandleSI> handle_;
  std::shared_ptr<ReadState> read_;
  std::thread readThread_;
  std::atomic<bool> abandoned_{false};
  // Read without the lifecycle lock, which a Close may hold for seconds.
  std::atomic<std::uint8_t> deviceNumber_{0};
  std::atomic<std::uint32_t> baud_{0};
};

}  // namespace Pellux
