#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Pellux {

// Receives what a serial transport reads. Called on the transport's receive thread only, never
// while the transport's owner is inside Close; it must not call back into the transport's Open
// or Close (it may write).
class DSISerialCallback {
 public:
  // Codes passed to Error by a transport.
  static constexpr std::uint8_t kDeviceUnreadable = 1;  // repeated on every poll while it lasts
  static constexpr std::uint8_t kWriteFailed = 2;
  static constexpr std::uint8_t kReadFailed = 3;  // the receive thread has stopped

  DSISerialCallback() = default;
  DSISerialCallback(const DSISerialCallback&) = delete;
  DSISerialCallback& operator=(const DSISerialCallback&) = delete;
  virtual ~DSISerialCallback() = default;

  // One received byte, in order.
  virtual void ProcessByte(std::uint8_t byte) = 0;
  // The transport (or the framer itself) met a fault.
  virtual void Error(std::uint8_t code) = 0;
};

// A byte stream to the base station: select a device, open it, write bytes; every byte read is
// handed to the callback on the transport's own receive thread until Close returns. Each platform
// has its backend (the bridge library on Windows, a tty on Linux); the virtual base station is a
// third.
//
// Threads: one owner thread at a time calls Init, SetCallback, Open and Close (the radio side,
// under the engine's lock); WriteBytes may also come from the framer on another thread while the
// transport is open, and must be safe beside the receive thread. Nothing here is called from the
// callback but WriteBytes.
class DSISerial {
 public:
  DSISerial() = default;
  DSISerial(const DSISerial&) = delete;
  DSISerial& operator=(const DSISerial&) = delete;
  virtual ~DSISerial() = default;

  // Selects the first device that looks like a base station. Blocks while it opens and closes
  // candidates to test them.
  virtual bool AutoInit() = 0;
  // Selects device `deviceNumber` of the device list, to be opened at `baud`. Does not block
  // on the device.
  virtual bool Init(std::uint32_t baud, std::uint8_t deviceNumber) = 0;
  // Serial number of the open device, 0 when none.
  virtual std::uint32_t GetDeviceSerialNumber() = 0;
  // Product and serial texts of device `deviceNumber`; true when both could be read.
  virtual bool GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                                std::string& serial);
  // Product id of the open device; true when a device is open.
  virtual bool GetDevicePID(std::uint16_t& productId);
  // Remembers where received bytes go (not owned; it outlives the open transport). Called
  // before Open, or with null after Close.
  virtual void SetCallback(DSISerialCallback* callback) { callback_ = callback; }
  // Opens the selected device and starts the receive thread. Blocks for the opening only.
  virtual bool Open() = 0;
  // Stops the receive thread (no callback runs once this returns) and closes the device; with
  // `reset`, the device is reset first. Blocks until the thread has stopped. Harmless when the
  // transport is not open.
  virtual void Close(bool reset) = 0;
  // True when every byte was written. Blocks until the bytes are handed to the device.
  virtual bool WriteBytes(const std::uint8_t* data, std::size_t size) = 0;
  virtual std::uint8_t GetDeviceNumber() = 0;

 protected:
  DSISerialCallback* callback_ = nullptr;
};

}  // namespace Pellux
