#include "device/dsi_serial_si_win.h"

#include <condition_variable>
#include <system_error>
#include <utility>

#include "device/device_restart_win.h"
#include "device/usb_text_rules.h"

namespace Pellux {
namespace {

std::atomic<int> runningReadThreads{0};

}  // namespace

// What the read thread touches, owned by the transport and the thread together.
struct DSISerialSI::ReadState {
  ReadState(DSISerialCallback* receiver, std::shared_ptr<USBDeviceHandleSI> device)
      : callback(receiver), handle(std::move(device)) {}

  // Runs `call` on the callback unless the thread was abandoned; false when it was.
  template <typename Call>
  bool Deliver(Call&& call) {
    std::lock_guard guard(callbackMutex);
    if (barred) return false;
    call(*callback);
    return true;
  }

  DSISerialCallback* const callback;
  const std::shared_ptr<USBDeviceHandleSI> handle;
  std::atomic<bool> stop{false};
  // Failed writes not yet reported: WriteBytes leaves their Error(2) to this thread, so that
  // every callback comes from the read thread.
  std::atomic<int> writeFailures{0};
  // Held while a callback runs; `barred` keeps an abandoned thread away from it.
  std::mutex callbackMutex;
  bool barred = false;

  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by mutex.
  bool ended = false;
};

DSISerialSI::DSISerialSI(Clock& clock, Restarter restart)
    : clock_(clock), restart_(std::move(restart)) {
  if (!restart_) {
    restart_ = [](const std::string& pattern) { RestartDevicesMatching(pattern); };
  }
}

DSISerialSI::~DSISerialSI() {
  Close(false);
}

bool DSISerialSI::AutoInit() {
  Close(false);
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  for (std::size_t number = 0; number < devices.GetSize(); ++number) {
    const USBDeviceSI& device = devices[number];
    if (device.ProductTextRead() && !IsAntUsbStickProduct(device.ProductText())) continue;
    // A device another program holds open will not open: try the next.
    const std::shared_ptr<USBDeviceHandleSI> probe = USBDeviceHandleSI::Open(device, 0);
    if (!probe) continue;
    probe->Close(false, clock_);
    std::lock_guard guard(lifecycle_);
    deviceNumber_ = device.GetDeviceNumber();
    baud_ = kAutoInitBaud;
    return true;
  }
  Close(false);
  restart_(kAutoInitRestartPattern);
  return false;
}

bool DSISerialSI::Init(std::uint32_t baud, std::uint8_t deviceNumber) {
  Close(false);
  std::lock_guard guard(lifecycle_);
  baud_ = baud;
  deviceNumber_ = deviceNumber;
  return true;
}

std::shared_ptr<USBDeviceHandleSI> DSISerialSI::OpenHandle() const {
  std::lock_guard guard(handleMutex_);
  return handle_;
}

std::uint32_t DSISerialSI::GetDeviceSerialNumber() {
  const std::shared_ptr<USBDeviceHandleSI> handle = OpenHandle();
  return handle ? handle->GetDevice().GetSerialNumber() : 0;
}

bool DSISerialSI::GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                                   std::string& serial) {
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  if (deviceNumber >= devices.GetSize()) return false;
  const USBDeviceSI& device = devices[deviceNumber];
  UsbTextField productText{};
  UsbTextField serialText{};
  if (!device.GetProductDescription(productText.data(), productText.size()) ||
      !device.GetSerialString(serialText.data(), serialText.size())) {
    return false;
  }
  product = FieldText(productText);
  serial = FieldText(serialText);
  return true;
}

bool DSISerialSI::GetDevicePID(std::uint16_t& productId) {
  const std::shared_ptr<USBDeviceHandleSI> handle = OpenHandle();
  if (!handle) return false;
  productId = handle->GetDevice().GetPid();
  return true;
}

bool DSISerialSI::Open() {
  std::unique_lock guard(lifecycle_);
  if (callback_ == nullptr || readThread_.joinable() || OpenHandle()) return false;
  const USBDeviceList<USBDeviceSI> devices = GetSIDeviceList();
  if (deviceNumber_ >= devices.GetSize()) return false;
  std::shared_ptr<USBDeviceHandleSI> handle =
      USBDeviceHandleSI::Open(devices[deviceNumber_.load()], baud_.load());
  if (!handle) return false;
  auto state = std::make_shared<ReadState>(callback_, handle);
  {
    std::lock_guard handleGuard(handleMutex_);
    handle_ = std::move(handle);
    read_ = state;
  }
  abandoned_.store(false);
  ++runningReadThreads;
  try {
    readThread_ = std::thread([state] { ReadLoop(state); });
  } catch (const std::system_error&) {
    --runningReadThreads;
    guard.unlock();
    Close(false);
    return false;
  }
  return true;
}

void DSISerialSI::ReadLoop(const std::shared_ptr<ReadState>& state) {
  ReadState& s = *state;
  while (!s.stop.load()) {
    for (; s.writeFailures.load() > 0; --s.writeFailures) {
      s.Deliver([](DSISerialCallback& to) { to.Error(DSISerialCallback::kWriteFailed); });
    }
    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    const USBDeviceHandle::Result result = s.handle->Read(&byte, 1, count, kReadTimeoutMs);
    if (result == USBDeviceHandle::kSuccess) {
      if (count == 1 && !s.Deliver([byte](DSISerialCallback& to) { to.ProcessByte(byte); })) {
        break;
      }
    } else if (result == USBDeviceHandle::kTimedOut) {
      continue;
    } else if (result == USBDeviceHandle::kClosed) {
      if (!s.Deliver(
              [](DSISerialCallback& to) { to.Error(DSISerialCallback::kDeviceUnreadable); })) {
        break;
      }
      // The handle stays closed: report it again after a poll's time, unless stopped first.
      std::unique_lock lock(s.mutex);
      s.changed.wait_for(lock, kUnreadablePause, [&s] { return s.stop.load(); });
    } else {
      s.Deliver([](DSISerialCallback& to) { to.Error(DSISerialCallback::kReadFailed); });
      break;
    }
  }
  {
    std::lock_guard guard(s.mutex);
    s.ended = true;
  }
  s.changed.notify_all();
  --runningReadThreads;
}

void DSISerialSI::StopReadThread() {
  std::shared_ptr<ReadState> state;
  {
    std::lock_guard handleGuard(handleMutex_);
    state = std::move(read_);
  }
  if (!readThread_.joinable() || !state) return;
  if (readThread_.get_id() == std::this_thread::get_id()) {
    // Asked from a callback, against the contract: the thread cannot wait for itself. It
    // leaves once the callback returns.
    state->stop.store(true);
    readThread_.detach();
    return;
  }
  {
    std::lock_guard guard(state->mutex);
    state->stop.store(true);
  }
  state->changed.notify_all();
  state->handle->InterruptRead();
  std::unique_lock lock(state->mutex);
  const bool ended = state->changed.wait_for(lock, kThreadStopWait, [&] { return state->ended; });
  lock.unlock();
  if (ended) {
    readThread_.join();
    return;
  }
  // Left to end by itself, barred from the callback from now on.
  {
    std::lock_guard guard(state->callbackMutex);
    state->barred = true;
  }
  abandoned_.store(true);
  readThread_.detach();
}

void DSISerialSI::Close(bool reset) {
  std::lock_guard guard(lifecycle_);
  StopReadThread();
  std::shared_ptr<USBDeviceHandleSI> handle;
  {
    std::lock_guard handleGuard(handleMutex_);
    handle = std::move(handle_);
  }
  if (handle) handle->Close(reset, clock_);
  if (reset) clock_.Sleep(kResetSleep);
}

bool DSISerialSI::WriteBytes(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<USBDeviceHandleSI> handle;
  std::shared_ptr<ReadState> state;
  {
    std::lock_guard guard(handleMutex_);
    handle = handle_;
    state = read_;
  }
  if (!handle || data == nullptr) return false;
  std::uint32_t written = 0;
  // The bridge takes sizes of 16 bits.
  const auto length = static_cast<std::uint16_t>(size);
  if (length == size && handle->Write(data, length, written) == USBDeviceHandle::kSuccess) {
    return true;
  }
  if (state) {
    ++state->writeFailures;
    handle->InterruptRead();
  }
  return false;
}

std::uint8_t DSISerialSI::GetDeviceNumber() {
  return deviceNumber_.load();
}

int DSISerialSI::RunningReadThreads() {
  return runningReadThreads.load();
}

}  // namespace Pellux
