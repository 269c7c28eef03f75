#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "base/clock.h"
#include "device/usb_device_handle.h"
#include "device/usb_device_win.h"

namespace Pellux {

// An open bridge device: the seven opening steps, the receive thread that reads the
// bridge a byte at a time into the receive queue, and Read and Write over them.
//
// Threads: the receive thread is the only caller of SI_Read. Read is for one reader thread
// (DSISerialSI's), Write for any thread; Close for the owner, once the reader has stopped.
//
// The thread-stop rule: Close asks the receive thread to stop (at once, through a stop event,
// or within a 1000 ms slice of a pending read) and waits up to 3000 ms for it. A thread that
// does not end by then is never terminated (it might hold the heap's lock or the queue's and
// freeze the process): it is left to end by itself. Everything it touches (the libraries, the
// device handle's overlapped record and byte, the events, the queue) is in a block it owns a
// share of, freed only when the last owner lets go, so the abandoned thread can never touch
// freed memory; once it comes back from the library it sees the stop and ends. The device handle
// itself is closed by its last user: by Close when the thread has ended, else by the abandoned
// thread on its way out, so that SI_Close never runs while SI_Read is inside the library.
class USBDeviceHandleSI final : public USBDeviceHandle {
 public:
  static constexpr DWORD kWriteTimeoutMs = 3000;
  static constexpr DWORD kProbeSliceMs = 1000;
  static constexpr std::chrono::milliseconds kThreadStopWait{3000};
  static constexpr std::chrono::milliseconds kResetSleep{1750};

  // Opens bridge device `device` at `baud`: SI_Open, the write time-out of 3000 ms, the baud
  // rate, 8N1, CTS and RTS flow control, both buffers flushed, then the receive thread. Null
  // when a step fails; what was opened is closed again. Needs both the bridge library and the
  // manufacturing library (for the liveness probe and the reset).
  static std::shared_ptr<USBDeviceHandleSI> Open(const USBDeviceSI& device, std::uint32_t baud);

  USBDeviceHandleSI(const USBDeviceHandleSI&) = delete;
  USBDeviceHandleSI& operator=(const USBDeviceHandleSI&) = delete;
  // Closes without a reset if still open.
  ~USBDeviceHandleSI() override;

  // Stops the receive thread (see the class comment), clears the flow control and flushes both
  // buffers; unless either said the handle is invalid, resets the bridge (with `reset`) and
  // closes it (left to an abandoned thread, which does the same when it is back). With `reset`,
  // then sleeps 1750 ms on `clock`. Later calls do nothing.
  void Close(bool reset, Clock& clock);

  Result Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) override;
  // Bytes already received are handed out first; once none are left, a closed handle (or one
  // whose receive thread has stopped) reads kClosed.
  Result Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& count,
              std::uint32_t timeoutMs) override;
  [[nodiscard]] const USBDevice& GetDevice() const override { return device_; }
  [[nodiscard]] const USBDeviceSI& Device() const { return device_; }

  // Ends a Read that is waiting now (it returns kTimedOut when no byte came), so that a
  // reader being stopped need not wait out its time-out. Any thread.
  void InterruptRead();

  // Whether the last Close left its receive thread behind.
  [[nodiscard]] bool ReceiveThreadAbandoned() const { return abandoned_; }
  // Receive threads of every handle that have not ended yet, abandoned ones included.
  static int RunningReceiveThreads();

 private:
  struct Shared;

  USBDeviceHandleSI(const USBDeviceSI& device, std::uint32_t baud);
  bool OpenDevice();
  // True when the thread ended; false when it was left behind, with the device's close (and
  // `reset`) handed to it.
  bool StopReceiveThread(bool reset);
  static void Receive(const std::shared_ptr<Shared>& shared);
  // One pending read: waits for it in slices, probing the device between them. True when
  // exactly one byte came (and was queued).
  static bool AwaitPendingRead(Shared& shared);

  const USBDeviceSI device_;
  const std::uint32_t baud_;
  // Flow-control masks: CTS, RTS, DTR, DSR, DCD.
  std::uint8_t cts_ = 1;
  std::uint8_t rts_ = 1;
  std::uint8_t dtr_ = 0;
  std::uint8_t dsr_ = 0;
  std::uint8_t dcd_ = 0;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
  // Serialises Close.
  std::mutex closeMutex_;
  bool open_ = false;
  std::atomic<bool> abandoned_{false};
};

}  // namespace Pellux
