#include "device/usb_device_handle_si_win.h"

#include <array>
#include <condition_variable>
#include <system_error>

#include "device/byte_block_queue.h"
#include "device/cm_library_win.h"
#include "device/silabs_library_win.h"

namespace Pellux {
namespace {

std::atomic<int> runningReceiveThreads{0};

// The probe reads the serial text through a buffer of this size, asking for at most 255 bytes.
constexpr std::size_t kProbeBufferSize = 256;
constexpr BYTE kProbeLength = 255;

}  // namespace

// What the receive thread touches, owned by the handle and the thread together.
struct USBDeviceHandleSI::Shared {
  Shared() = default;
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() {
    if (readEvent != nullptr) CloseHandle(readEvent);
    if (stopEvent != nullptr) CloseHandle(stopEvent);
  }

  // Queues a received byte and wakes the reader. A reader waits only on an empty queue, so
  // only the first byte into an empty queue needs to wake it: under Wine a wake-up costs far
  // more than the byte.
  void Append(std::uint8_t received) {
    bool wasEmpty = false;
    {
      std::lock_guard guard(mutex);
      wasEmpty = queue.Empty();
      queue.Push(received);
    }
    if (wasEmpty) dataReady.notify_all();
  }

  // The bridge's part of closing: clear the flow control and flush both buffers; unless either
  // says the handle is invalid, reset the bridge (with `reset`) and close it, which cancels a
  // read still pending (the library lets go of the overlapped record there). Run by the last
  // owner of the device handle: the closer, or a receive thread it left behind, once that is
  // back from the library.
  void CloseDevice(bool reset) const {
    const SiApi::Status flow = silabs->SI_SetFlowControl(device, 0, 0, 0, 0, 0, FALSE);
    const SiApi::Status flush = silabs->SI_FlushBuffers(device, TRUE, TRUE);
    if (flow != SiApi::kInvalidHandle && flush != SiApi::kInvalidHandle) {
      if (reset) manufacturing->CP210x_Reset(device);
      silabs->SI_Close(device);
    }
  }

  std::unique_ptr<SiLabsLibrary> silabs;
  std::unique_ptr<CMLibrary> manufacturing;
  HANDLE device = nullptr;
  // Manual reset: set by the library when a pending read completes.
  HANDLE readEvent = nullptr;
  // Manual reset: set by Close.
  HANDLE stopEvent = nullptr;
  // The one read in flight and its byte; the library writes both until the device is closed.
  OVERLAPPED overlapped{};
  std::uint8_t byte = 0;
  std::atomic<bool> stopping{false};

  std::mutex mutex;
  std::condition_variable dataReady;
  // Guarded by mutex.
  ByteBlockQueue queue;
  bool closed = true;
  std::uint64_t interrupts = 0;
  bool threadEnded = false;
  std::condition_variable threadEndedCondition;
  // Set by a closer that left the thread behind: the thread closes the device on its way out,
  // with the closer's reset flag.
  bool closeLeftToThread = false;
  bool closeWithReset = false;
};

USBDeviceHandleSI::USBDeviceHandleSI(const USBDeviceSI& device, std::uint32_t baud)
    : device_(device), baud_(baud), shared_(std::make_shared<Shared>()) {}

USBDeviceHandleSI::~USBDeviceHandleSI() {
  Close(false, SystemClock::Instance());
}

std::shared_ptr<USBDeviceHandleSI> USBDeviceHandleSI::Open(const USBDeviceSI& device,
                                                           std::uint32_t baud) {
  std::shared_ptr<USBDeviceHandleSI> handle(new USBDeviceHandleSI(device, baud));
  if (!handle->OpenDevice()) return nullptr;
  return handle;
}

bool USBDeviceHandleSI::OpenDevice() {
  Shared& s = *shared_;
  s.silabs = SiLabsLibrary::Create();
  s.manufacturing = CMLibrary::Create();
  if (!s.silabs || !s.manufacturing) return false;
  const SiLabsLibrary& si = *s.silabs;

  HANDLE device = nullptr;
  if (si.SI_Open(device_.GetDeviceNumber(), &device) != SiApi::kSuccess) return false;
  const auto fail = [&] {
    si.SI_Close(device);
    return false;
  };
  DWORD readTimeout = 0;
  DWORD writeTimeout = 0;
  if (si.SI_GetTimeouts(&readTimeout, &writeTimeout) != SiApi::kSuccess ||
      si.SI_SetTimeouts(readTimeout, kWriteTimeoutMs) != SiApi::kSuccess) {
    return fail();
  }
  if (si.SI_SetBaudRate(device, baud_) != SiApi::kSuccess) return fail();
  if (si.SI_SetLineControl(device, SiApi::kLineControl8N1) != SiApi::kSuccess) return fail();
  if (si.SI_SetFlowControl(device, cts_, rts_, dtr_, dsr_, dcd_, FALSE) != SiApi::kSuccess) {
    return fail();
  }
  if (si.SI_FlushBuffers(device, TRUE, TRUE) != SiApi::kSuccess) return fail();

  s.readEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  s.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (s.readEvent == nullptr || s.stopEvent == nullptr) return fail();
  s.device = device;
  {
    std::lock_guard guard(s.mutex);
    s.closed = false;
    s.threadEnded = false;
  }
  ++runningReceiveThreads;
  try {
    thread_ = std::thread([shared = shared_] { Receive(shared); });
  } catch (const std::system_error&) {
    --runningReceiveThreads;
    s.device = nullptr;
    return fail();
  }
  open_ = true;
  return true;
}

void USBDeviceHandleSI::Receive(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  const SiLabsLibrary& si = *s.silabs;
  while (!s.stopping.load()) {
    ResetEvent(s.readEvent);
    s.overlapped = OVERLAPPED{};
    s.overlapped.hEvent = s.readEvent;
    DWORD count = 0;
    const SiApi::Status status = si.SI_Read(s.device, &s.byte, 1, &count, &s.overlapped);
    if (status == SiApi::kSuccess) {
      if (count == 1) s.Append(s.byte);
    } else if (status == SiApi::kRxQueueNotReady || status == SiApi::kReadTimedOut) {
      continue;
    } else if (status != SiApi::kIoPending || !AwaitPendingRead(s)) {
      break;
    }
  }
  bool closeDevice = false;
  bool reset = false;
  {
    std::lock_guard guard(s.mutex);
    s.closed = true;
    s.threadEnded = true;
    closeDevice = s.closeLeftToThread;
    reset = s.closeWithReset;
  }
  s.dataReady.notify_all();
  s.threadEndedCondition.notify_all();
  if (closeDevice) s.CloseDevice(reset);
  --runningReceiveThreads;
}

bool USBDeviceHandleSI::AwaitPendingRead(Shared& s) {
  const std::array<HANDLE, 2> events{s.readEvent, s.stopEvent};
  for (;;) {
    const DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(),
                                                FALSE, kProbeSliceMs);
    if (waited == WAIT_OBJECT_0) break;
    if (waited != WAIT_TIMEOUT || s.stopping.load()) return false;
    // A read that takes this long may be waiting on a device that is gone: ask it for its
    // serial number, which only a device that is still there can answer.
    std::array<char, kProbeBufferSize> serial{};
    BYTE length = kProbeLength;
    if (s.manufacturing->CP210x_GetDeviceSerialNumber(s.device, serial.data(), &length, TRUE) !=
        CpApi::kSuccess) {
      return false;
    }
  }
  // The library reports the bytes of a completed overlapped read in InternalHigh.
  if (s.overlapped.InternalHigh != 1) return false;
  s.Append(s.byte);
  return true;
}

bool USBDeviceHandleSI::StopReceiveThread(bool reset) {
  Shared& s = *shared_;
  s.stopping.store(true);
  SetEvent(s.stopEvent);
  std::unique_lock lock(s.mutex);
  const bool ended =
      s.threadEndedCondition.wait_for(lock, kThreadStopWait, [&s] { return s.threadEnded; });
  if (!ended) {
    // Decided under the lock the thread ends under: it has not ended, so it will see this.
    s.closeLeftToThread = true;
    s.closeWithReset = reset;
  }
  lock.unlock();
  if (ended) {
    thread_.join();
  } else {
    // Left to end by itself: it owns its share of everything it touches.
    abandoned_.store(true);
    thread_.detach();
  }
  return ended;
}

void USBDeviceHandleSI::Close(bool reset, Clock& clock) {
  std::lock_guard guard(closeMutex_);
  if (!open_) return;
  open_ = false;
  Shared& s = *shared_;
  const bool threadEnded = StopReceiveThread(reset);
  {
    std::lock_guard queueGuard(s.mutex);
    s.closed = true;
  }
  s.dataReady.notify_all();

  cts_ = rts_ = dtr_ = dsr_ = dcd_ = 0;
  // A thread left behind may still be inside SI_Read on this handle: it closes the device
  // itself once it is back.
  if (threadEnded) s.CloseDevice(reset);
  if (reset) clock.Sleep(kResetSleep);
}

USBDeviceHandle::Result USBDeviceHandleSI::Write(const std::uint8_t* data, std::uint32_t size,
                                                 std::uint32_t& written) {
  written = 0;
  if (data == nullptr) return kNoData;
  Shared& s = *shared_;
  {
    std::lock_guard guard(s.mutex);
    if (s.closed) return kClosed;
  }
  DWORD done = 0;
  // The library's prototype takes a writable pointer; it only reads the bytes.
  const SiApi::Status status =
      s.silabs->SI_Write(s.device, const_cast<std::uint8_t*>(data), size, &done, nullptr);
  written = done;
  return status == SiApi::kSuccess && done == size ? kSuccess : kWriteFailed;
}

USBDeviceHandle::Result USBDeviceHandleSI::Read(std::uint8_t* buffer, std::uint32_t size,
                                                std::uint32_t& count, std::uint32_t timeoutMs) {
  count = 0;
  if (buffer == nullptr) return kNoData;
  Shared& s = *shared_;
  std::unique_lock lock(s.mutex);
  if (s.queue.Empty() && !s.closed) {
    const std::uint64_t interrupts = s.interrupts;
    s.dataReady.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      return !s.queue.Empty() || s.closed || s.interrupts != interrupts;
    });
  }
  if (!s.queue.Empty()) {
    count = static_cast<std::uint32_t>(s.queue.Pop(buffer, size));
    return kSuccess;
  }
  return s.closed ? kClosed : kTimedOut;
}

void USBDeviceHandleSI::InterruptRead() {
  {
    std::lock_guard guard(shared_->mutex);
    ++shared_->interrupts;
  }
  shared_->dataReady.notify_all();
}

int USBDeviceHandleSI::RunningReceiveThreads() {
  return runningReceiveThreads.load();
}

}  // namespace Pellux
