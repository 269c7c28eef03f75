#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Pellux {

// Receives what a serial transport reads. Called on the transport's receive thread.
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
// handed to the callback on the transport's own receive thread until Close returns.
class DSISerial {
 public:
  DSISerial() = default;
  DSISerial(const DSISerial&) = delete;
  DSISerial& operator=(const DSISerial&) = delete;
  virtual ~DSISerial() = default;

  // Selects the first device found.
  virtual bool AutoInit() = 0;
  // Selects device `deviceNumber` of the device list, to be opened at `baud`.
  virtual bool Init(std::uint32_t baud, std::uint8_t deviceNumber) = 0;
  // Serial number of the open device, 0 when none.
  virtual std::uint32_t GetDeviceSerialNumber() = 0;
  // Product and serial texts of device `deviceNumber`; true when both could be read.
  virtual bool GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                                std::string& serial);
  // Product id of the open device; true when a device is open.
  virtual bool GetDevicePID(std::uint16_t& productId);
  // Remembers where received bytes go (not owned). Called before Open.
  virtual void SetCallback(DSISerialCallback* callback) { callback_ = callback; }
  virtual bool Open() = 0;
  // Stops the receive thread (no callback runs once this returns) and closes the device.
  virtual void Close(bool reset = false) = 0;
  // True when every byte was written.
  virtual bool WriteBytes(const std::uint8_t* data, std::size_t size) = 0;
  virtual std::uint8_t GetDeviceNumber() = 0;

 protected:
  DSISerialCallback* callback_ = nullptr;
};

}  // namespace Pellux
