#pragma once

#include <cstdint>

namespace Pellux {

class USBDevice;

// An open USB device as a byte stream. Write may be called from any thread; Read
// from one reader thread at a time.
class USBDeviceHandle {
 public:
  // Results of Write and Read.
  enum Result : std::uint8_t {
    kSuccess = 0,
    kClosed = 1,       // the device is closed or its receive thread has stopped
    kNoData = 2,       // no data pointer was given
    kWriteFailed = 3,  // the write failed or wrote fewer bytes than asked
    kTimedOut = 4,     // the read timed out with no byte
  };

  USBDeviceHandle() = default;
  USBDeviceHandle(const USBDeviceHandle&) = delete;
  USBDeviceHandle& operator=(const USBDeviceHandle&) = delete;
  virtual ~USBDeviceHandle() = default;

  virtual Result Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t& written) = 0;
  // Waits up to `timeoutMs` for data, then moves up to `size` bytes into `buffer`.
  virtual Result Read(std::uint8_t* buffer, std::uint32_t size, std::uint32_t& count,
                      std::uint32_t timeoutMs) = 0;
  // The device this handle was opened for.
  [[nodiscard]] virtual const USBDevice& GetDevice() const = 0;
};

}  // namespace Pellux
