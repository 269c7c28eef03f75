#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "device/dsi_serial.h"
#include "device/usb_serial_port.h"

namespace Pellux {

// A DSISerial over a Linux tty: the base station's USB-to-UART bridge as the kernel's cp210x
// driver shows it (/dev/ttyUSB*), a plain serial adapter, or a pseudo-terminal such as
// pellux-sim's.
//
// Opening: open(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK), exclusive (TIOCEXCL against other
// openers without CAP_SYS_ADMIN, and an flock against every other opener that also asks for
// one, root included), raw 8N1 at the exact rate of Init through termios2 and BOTHER (the rate
// the driver took is read back and logged), the bridge transport's flow control as far as a tty has
// it (see ApplyLineSettings), both queues flushed.
//
// Reading: the receive thread waits with poll, each wait bounded to the poll interval (1000 ms),
// and hands every byte to the callback in order. A device that is gone (POLLHUP, a read of 0
// bytes, EIO, ENXIO, ENODEV) gives Error(1) at once and again every poll interval while it
// lasts; any other failure of poll or read gives Error(3), and the thread stops. A write that
// fails, or does not get every byte to the device within the write time-out (3000 ms, the
// bridge's), gives Error(2); that error too reaches the callback on the receive thread, as
// every callback does. Every failure is logged with the system's words for it.
//
// Threads: as DSISerial says. WriteBytes may run beside the receive thread and beside Close
// (Close wakes a write that waits for room and waits for it to leave).
class DSISerialTTY final : public DSISerial {
 public:
  static constexpr std::uint32_t kAutoInitBaud = 50000;
  static constexpr std::chrono::milliseconds kPollInterval{1000};
  static constexpr std::chrono::milliseconds kWriteTimeout{3000};

  struct Options {
    std::chrono::milliseconds pollInterval = kPollInterval;
    std::chrono::milliseconds writeTimeout = kWriteTimeout;
  };

  // What a failed read or poll means, by its errno value.
  enum class ReadFailure {
    Retry,       // interrupted or nothing to read after all: wait again
    DeviceGone,  // the device went away: Error(1) while it lasts
    Fatal,       // anything else: Error(3), the thread stops
  };
  static ReadFailure ClassifyReadFailure(int error);

  // What the log adds to a failed open's system words, for the failures a user can mend (empty
  // for the rest). Under pellux.service a refused open is either the unit's device list
  // (DeviceAllow: ttyUSB and ttyACM only, EPERM) or the tty's group (pellux, which
  // 60-pellux.rules gives the base station, EACCES): the hint names which, and where the README
  // tells how to add an adapter.
  static const char* OpenFailureHint(int error);

  // `ports` is asked for the device list whenever a device number must be resolved (Open,
  // AutoInit, GetDeviceUSBInfo); `log` takes the transport's lines.
  DSISerialTTY(UsbSerialPortLister ports, DeviceLog log, Options options);
  DSISerialTTY(UsbSerialPortLister ports, DeviceLog log);
  ~DSISerialTTY() override;

  // The first listed port whose product text looks like a base station (the bridge transport's
  // 13-character rule) and that can be opened; selected at 50000 baud.
  bool AutoInit() override;
  bool Init(std::uint32_t baud, std::uint8_t deviceNumber) override;
  // The leading digits of the open port's serial text.
  std::uint32_t GetDeviceSerialNumber() override;
  bool GetDeviceUSBInfo(std::uint8_t deviceNumber, std::string& product,
                        std::string& serial) override;
  bool GetDevicePID(std::uint16_t& productId) override;
  bool Open() override;
  // `reset` is not needed on Linux: the driver resets nothing a close leaves behind, and a
  // stuck bridge is power-cycled through BaseStationDevices::RestartDevices.
  void Close(bool reset) override;
  bool WriteBytes(const std::uint8_t* data, std::size_t size) override;
  std::uint8_t GetDeviceNumber() override;

  // The rate the driver reported after the last Open, 0 when none.
  [[nodiscard]] std::uint32_t ActualBaud() const;
  // The node of the open port, empty when closed.
  [[nodiscard]] std::string OpenNode() const;

 private:
  // The port at `deviceNumber` of a fresh listing, or nothing.
  std::optional<UsbSerialPort> PortAt(std::uint8_t deviceNumber) const;
  // Opens and sets up `node`; -1 on failure (logged, nothing left open).
  int OpenNodeFd(const std::string& node, std::uint32_t baud, std::uint32_t& actualBaud);
  bool ApplyLineSettings(int fd, const std::string& node, std::uint32_t baud,
                         std::uint32_t& actualBaud);
  void ReadLoop(int fd, int stop, int notify, DSISerialCallback* callback);
  // Waits out one poll interval on the wake-ups only (the gone device would wake it at once);
  // false when the transport is closing.
  bool PauseWhileGone(int stop, int notify, DSISerialCallback* callback);
  // Delivers the Error(2)s that writes left for the receive thread.
  void DeliverWriteFailures(DSISerialCallback* callback);
  void Log(int level, const std::string& line) const;
  void LogFailure(const char* call, const std::string& subject, int error) const;

  const UsbSerialPortLister ports_;
  const DeviceLog log_;
  const Options options_;

  // Guards the selection and the open port's description; taken by the owner's calls.
  mutable std::mutex mutex_;
  std::uint32_t baud_ = 0;
  std::uint8_t deviceNumber_ = 0xFF;
  std::optional<UsbSerialPort> openPort_;
  std::uint32_t actualBaud_ = 0;

  // The open descriptors, -1 when closed. Writers hold writeMutex_ while they use them; Close
  // takes it before closing them.
  std::mutex writeMutex_;
  int fd_ = -1;
  // Two eventfds: `stop_` is set once by Close and never read, so that the receive thread and
  // a write waiting for room both see it; `notify_` tells the receive thread that a write
  // failed.
  int stop_ = -1;
  int notify_ = -1;
  // The open node, for the writers' log lines.
  std::string writeNode_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> pendingWriteFailures_{0};
  std::thread reader_;
};

}  // namespace Pellux
